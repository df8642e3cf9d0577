// Both stand-ins record what they were asked, one line per start, in a log
// file that the scenarios read back.
#pragma once
#include <windows.h>

// Appends text and a line feed to the UTF-16 file at path.
void appendLogLine(const wchar_t* path, const wchar_t* text);
// The folder the manager is installed into: PMTEST_INSTALL_DIR when set,
// else "Zemrik Security\Manager" under the program files folder.
void managerInstallFolder(wchar_t* folder);
