#include "stand_ins/stand_in_log.h"

#include <shlobj.h>
#include <shlwapi.h>

void appendLogLine(const wchar_t* path, const wchar_t* text)
{
    HANDLE log = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_ALWAYS, 0, NULL);
    if (log == INVALID_HANDLE_VALUE)
        return;
    DWORD written;
    WriteFile(log, text, lstrlenW(text) * sizeof(wchar_t), &written, NULL);
    WriteFile(log, L"\n", sizeof(wchar_t), &written, NULL);
    CloseHandle(log);
}

void managerInstallFolder(wchar_t* folder)
{
    if (GetEnvironmentVariableW(L"PMTEST_INSTALL_DIR", folder, MAX_PATH))
        return;
    SHGetFolderPathW(NULL, CSIDL_PROGRAM_FILES, NULL, 0, folder);
    PathAppendW(folder, L"Zemrik Security\\Manager");
}

const wchar_t* installerWindowState()
{
    HWND installer = FindWindowW(L"#32770", L"Pellucast Firefox Addon Web-Installer");
    return installer && IsWindowVisible(installer) ? L"window shown" : L"window hidden";
}

void logStart(const wchar_t* folder, const wchar_t* logName)
{
    wchar_t line[2048];
    wnsprintfW(line, 2048, L"%s\t%s", installerWindowState(), GetCommandLineW());
    wchar_t log[MAX_PATH];
    lstrcpynW(log, folder, MAX_PATH);
    PathAppendW(log, logName);
    appendLogLine(log, line);
}
