// Paths of the build tree as the Windows programs under Wine see them.
#pragma once
#include <string>

// Wine maps the Linux root to drive Z:.
inline std::wstring windowsPathOf(const char* unixPath)
{
    std::wstring path = L"Z:";
    for (const char* c = unixPath; *c; c++)
        path += (*c == '/') ? L'\\' : (wchar_t)(unsigned char)*c;
    return path;
}
