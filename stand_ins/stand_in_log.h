// Both stand-ins record what they were asked, one line per start, in a log
// file that the scenarios read back.
#pragma once
#include <windows.h>

// "window shown" or "window hidden": how the installer's progress window
// looked when the stand-in started.
const wchar_t* installerWindowState();
// Appends "STATE<tab>COMMAND LINE" to the log file named logName in folder.
void logStart(const wchar_t* folder, const wchar_t* logName);
// Appends text and a line feed to the UTF-16 file at path.
void appendLogLine(const wchar_t* path, const wchar_t* text);
// The folder the manager is installed into: PMTEST_INSTALL_DIR when set,
// else "Zemrik Security\Manager" under the program files folder.
void managerInstallFolder(wchar_t* folder);
