#include "install/installation_pipeline.h"

#include <shellapi.h>
#include <shlwapi.h>

#include "session/install_session.h"
#include "ui/progress_window.h"

static const wchar_t managerKey[] = L"SOFTWARE\\Zemrik Security\\Manager";
static const wchar_t addonRequest[] = L"--requestInstall:{D886EFBF-8CCD-43c6-B32B-BFD85F4E6EEB}";

// The test before every step: a requested stop ends the routine; otherwise
// the bar turns busy while the step works.
static int stopBeforeStep(InstallSession* session)
{
    if (session->stopRequested)
        return 1;
    setProgress(session->window, -1);
    return 0;
}

static void hideWindow(InstallSession* session)
{
    if (session->window)
        ShowWindow(getWindowHandle(session->window), SW_HIDE);
}

void runInstallation(InstallSession* session)
{
    if (stopBeforeStep(session))
        return;
    wchar_t managerPath[PIPELINE_TEXT_CAPACITY];
    installManager(session, managerPath);
    if (stopBeforeStep(session))
        return;
    launchProgram(session, managerPath, addonRequest, 0, NULL);
}

void installManager(InstallSession* session, wchar_t* managerPath)
{
    wchar_t version[PIPELINE_TEXT_CAPACITY];
    managerPath[0] = 0;
    version[0] = 0;

    if (stopBeforeStep(session))
        return;
    checkAdminRights(session);
    if (stopBeforeStep(session))
        return;
    readManagerValue(managerKey, L"version", version);

    if (!version[0]) {
        DWORD exitCode = 0;
        wchar_t packageName[PIPELINE_TEXT_CAPACITY];
        wchar_t packagePath[PIPELINE_TEXT_CAPACITY];
        if (stopBeforeStep(session))
            return;
        queryNewestPackage(session, packageName);
        if (stopBeforeStep(session))
            return;
        downloadPackage(session, packageName, packagePath);
        if (stopBeforeStep(session))
            return;
        downloadDecoderAndUnpack(session, packagePath);
        if (stopBeforeStep(session))
            return;
        hideWindow(session);
        if (stopBeforeStep(session))
            return;
        if (!launchProgram(session, packagePath, L"/NORESTART /SILENT", 1, &exitCode))
            // A setup that never ran has installed nothing.
            reportFailure(session, L"Error during installation");
        else if (exitCode == 2 || exitCode == 5)
            reportFailure(session, L"Installation was canceled");
        else if (exitCode != 0)
            reportFailure(session, L"Error during installation");
        if (stopBeforeStep(session))
            return;
        readManagerValue(managerKey, L"open", managerPath);
        if (stopBeforeStep(session))
            return;
        configureManagerProxy(session, managerPath);
    }

    if (!managerPath[0] && session->stopRequested)
        return;
    setProgress(session->window, -1);
    readManagerValue(managerKey, L"open", managerPath);
}

void checkAdminRights(InstallSession* session)
{
    if (isUserAdmin())
        return;

    wchar_t ownPath[MAX_PATH];
    DWORD length = GetModuleFileNameW(NULL, ownPath, MAX_PATH);
    // "/select, " and two quotes around the path must fit with the NUL; a
    // longer path would select another file, so Explorer is skipped then.
    static const wchar_t selectPrefix[] = L"/select, \"";
    const size_t room = PIPELINE_TEXT_CAPACITY - (ARRAYSIZE(selectPrefix) - 1) - 2;
    if (length > 0 && length < MAX_PATH && length <= room) {
        wchar_t parameters[PIPELINE_TEXT_CAPACITY];
        wnsprintfW(parameters, PIPELINE_TEXT_CAPACITY, L"%s%s\"", selectPrefix, ownPath);
        ShellExecuteW(NULL, L"open", L"explorer.exe", parameters, NULL, SW_SHOWNA);
        Sleep(500);
    }

    if (session->window) {
        HWND dialog = getWindowHandle(session->window);
        ShowWindow(dialog, SW_HIDE);
        MessageBoxW(dialog,
                    L"You do not have sufficient privileges to complete this installation. "
                    L"Log on as administrator and then try again.",
                    session->window->caption, MB_OK | MB_ICONWARNING);
    }
    requestStop(session);
}

LONG readManagerValue(const wchar_t* keyPath, const wchar_t* valueName, wchar_t* buffer)
{
    ZeroMemory(buffer, PIPELINE_TEXT_CAPACITY * sizeof(wchar_t));
    HKEY key;
    LONG result = RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_READ, &key);
    if (result != ERROR_SUCCESS)
        return result;
    DWORD size = PIPELINE_TEXT_CAPACITY * sizeof(wchar_t);
    LONG query = RegQueryValueExW(key, valueName, NULL, NULL, (BYTE*)buffer, &size);
    // A text that doesn't end inside the buffer would be handed on cut short,
    // and a cut path names another program: it counts as missing.
    if (query != ERROR_SUCCESS || buffer[PIPELINE_TEXT_CAPACITY - 1] != 0)
        ZeroMemory(buffer, PIPELINE_TEXT_CAPACITY * sizeof(wchar_t));
    return RegCloseKey(key);
}
