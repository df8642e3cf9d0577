// The installer program with a work routine chosen by the scenario that
// starts it (PMTEST_ROUTINE; "pipeline" is the real one), recording each start
// in PMTEST_LOG. It also answers the administrator question itself, so that a
// scenario can take the path of a user without administrator rights, which
// Wine's user never is.
#include <windows.h>

#include "install/installation_pipeline.h"
#include "session/install_session.h"
#include <shlwapi.h>

#include "ui/progress_window.h"

namespace {

void recordStart()
{
    wchar_t logPath[MAX_PATH];
    if (!GetEnvironmentVariableW(L"PMTEST_LOG", logPath, MAX_PATH))
        return;
    wchar_t directory[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, directory);
    wchar_t module[MAX_PATH];
    GetModuleFileNameW(NULL, module, MAX_PATH);
    // One line per start: process id, current directory, program file, command line.
    wchar_t line[2048];
    int length = wnsprintfW(line, 2048, L"%lu\t%s\t%s\t%s\n", GetCurrentProcessId(), directory, module,
                            GetCommandLineW());
    HANDLE log = CreateFileW(logPath, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_ALWAYS, 0, NULL);
    DWORD written;
    WriteFile(log, line, length * sizeof(wchar_t), &written, NULL);
    CloseHandle(log);
}

void waitForStop(InstallSession* session)
{
    while (!session->stopRequested)
        Sleep(10);
}

void failAtOnce(InstallSession* session)
{
    reportFailure(session, L"Can't send a HTTP request\nDownload failed");
}

// Updates the window as fast as it can, so that a close lands mid-update.
void updateWithoutPause(InstallSession* session)
{
    for (int i = 0; !session->stopRequested; i++) {
        setProgress(session->window, i % 5 == 0 ? -1 : i % 101);
        setStatusText(session->window, i % 2 ? L"Downloading manager.7z" : L"Downloading 7zDecoder.dll");
    }
}

WorkRoutine chosenRoutine()
{
    wchar_t name[32] = L"";
    GetEnvironmentVariableW(L"PMTEST_ROUTINE", name, 32);
    if (!lstrcmpW(name, L"wait"))
        return waitForStop;
    if (!lstrcmpW(name, L"fail"))
        return failAtOnce;
    if (!lstrcmpW(name, L"spin"))
        return updateWithoutPause;
    if (!lstrcmpW(name, L"pipeline"))
        return runInstallation;
    return NULL;
}

}  // namespace

int isUserAdmin()
{
    return GetEnvironmentVariableW(L"PMTEST_NOT_ADMIN", NULL, 0) ? 0 : 1;
}

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int)
{
    recordStart();
    return runInstaller(instance, chosenRoutine());
}
