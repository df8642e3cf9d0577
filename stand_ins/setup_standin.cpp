// Stands in for the manager's setup program: records its command line and
// whether the installer's window was visible, installs the manager stand-in
// it carries, writes the manager's registry values and exits with the code
// that PMTEST_SETUP_EXIT names (0 when unset). PMTEST_SETUP_WITHOUT_OPEN
// leaves the "open" value out.
#include <windows.h>
#include <shlobj.h>
#include <shlwapi.h>

#include "stand_ins/stand_in_log.h"

static const wchar_t managerKey[] = L"SOFTWARE\\Zemrik Security\\Manager";

static int installManagerProgram(const wchar_t* folder, wchar_t* managerPath)
{
    HRSRC resource = FindResourceW(NULL, L"MANAGER", (LPCWSTR)RT_RCDATA);
    if (!resource)
        return 0;
    const void* data = LockResource(LoadResource(NULL, resource));
    DWORD size = SizeofResource(NULL, resource);
    SHCreateDirectoryExW(NULL, folder, NULL);
    lstrcpynW(managerPath, folder, MAX_PATH);
    PathAppendW(managerPath, L"manager.exe");
    HANDLE file = CreateFileW(managerPath, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    DWORD written = 0;
    BOOL ok = WriteFile(file, data, size, &written, NULL) && written == size;
    CloseHandle(file);
    return ok;
}

static void writeText(HKEY key, const wchar_t* name, const wchar_t* text)
{
    RegSetValueExW(key, name, 0, REG_SZ, (const BYTE*)text, (lstrlenW(text) + 1) * sizeof(wchar_t));
}

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int)
{
    wchar_t folder[MAX_PATH];
    managerInstallFolder(folder);
    SHCreateDirectoryExW(NULL, folder, NULL);

    logStart(folder, L"setup.log");

    // A scenario can keep the setup running long enough to look at the installer.
    wchar_t delay[16] = L"0";
    GetEnvironmentVariableW(L"PMTEST_SETUP_DELAY_MS", delay, 16);
    Sleep(StrToIntW(delay));

    wchar_t exitText[16] = L"0";
    GetEnvironmentVariableW(L"PMTEST_SETUP_EXIT", exitText, 16);
    int exitCode = StrToIntW(exitText);
    if (exitCode != 0)
        return exitCode;

    wchar_t managerPath[MAX_PATH];
    if (!installManagerProgram(folder, managerPath))
        return 1;
    HKEY key;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, managerKey, 0, NULL, 0, KEY_WRITE, NULL, &key, NULL) != ERROR_SUCCESS)
        return 1;
    writeText(key, L"version", L"2.0.0.1");
    if (!GetEnvironmentVariableW(L"PMTEST_SETUP_WITHOUT_OPEN", NULL, 0))
        writeText(key, L"open", managerPath);
    RegCloseKey(key);
    return 0;
}
