// Files the test programs share with the programs they start: scratch
// folders, the UTF-16 line logs that the stand-ins write, command lines.
#pragma once
#include <windows.h>
#include <string>
#include <vector>

// A new, empty folder in the temporary folder whose name starts with name.
std::wstring makeScratchFolder(const wchar_t* name);
// The lines of a UTF-16 text file, without their line feeds; none when the
// file is missing.
std::vector<std::wstring> readUtf16Lines(const std::wstring& path);
// A command line split the way the started program sees its arguments.
std::vector<std::wstring> splitCommandLine(const std::wstring& commandLine);
