#include "tests/support/test_files.h"

#include <shellapi.h>
#include <shlwapi.h>

std::wstring makeScratchFolder(const wchar_t* name)
{
    wchar_t path[MAX_PATH];
    GetTempPathW(MAX_PATH, path);
    wchar_t leaf[128];
    wnsprintfW(leaf, 128, L"%s-%lu-%lu", name, GetCurrentProcessId(), GetTickCount());
    PathAppendW(path, leaf);
    CreateDirectoryW(path, NULL);
    return path;
}

std::vector<std::wstring> readUtf16Lines(const std::wstring& path)
{
    std::vector<std::wstring> lines;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0,
                              NULL);
    if (file == INVALID_HANDLE_VALUE)
        return lines;
    std::wstring content;
    wchar_t buffer[1024];
    DWORD read = 0;
    while (ReadFile(file, buffer, sizeof(buffer), &read, NULL) && read)
        content.append(buffer, read / sizeof(wchar_t));
    CloseHandle(file);
    size_t at = 0;
    for (size_t end; (end = content.find(L'\n', at)) != std::wstring::npos; at = end + 1)
        lines.push_back(content.substr(at, end - at));
    return lines;
}

std::vector<std::wstring> splitCommandLine(const std::wstring& commandLine)
{
    int count = 0;
    LPWSTR* parsed = CommandLineToArgvW(commandLine.c_str(), &count);
    if (!parsed)
        return {};
    std::vector<std::wstring> arguments(parsed, parsed + count);
    LocalFree(parsed);
    return arguments;
}
