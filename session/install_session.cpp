#include "session/install_session.h"

#include <process.h>
#include <commctrl.h>
#include <shlwapi.h>

#include "download/download_client.h"
#include "resources/resource_ids.h"
#include "session/record_memory.h"
#include "ui/progress_window.h"

static const wchar_t instanceMutexName[] = L"{3974CB71-9F40-4349-A088-70E6CE388B8E}";

int runInstaller(HINSTANCE instance, WorkRoutine workRoutine)
{
    InstallSession* session = createSession(instance);
    if (!session)
        return EXIT_CODE_OUT_OF_MEMORY;
    session->workRoutine = workRoutine;

    int result = session->stopRequested ? EXIT_CODE_ANOTHER_INSTANCE : runProgressUi(session);

    // Closed before the restart, so that the new instance finds no mutex.
    if (session->instanceMutex)
        CloseHandle(session->instanceMutex);
    if (session->restartRequested)
        restartSelf(session);
    destroySession(session);
    return result;
}

void destroySession(InstallSession* session)
{
    destroyProgressWindow(session->window);
    destroyDownloadClient(session->downloadClient);
    freeRecord(session);
}

InstallSession* createSession(HINSTANCE instance)
{
    InstallSession* session = (InstallSession*)allocateRecord(sizeof(InstallSession));
    if (!session)
        return NULL;
    prepareWorkFolder(session);
    session->window = createProgressWindow(instance);
    session->downloadClient = session->window ? createDownloadClient(session->window) : NULL;
    // Every later step relies on both records; without them the run can't
    // even show a window, so it ends before it takes the guard.
    if (!session->window || !session->downloadClient) {
        destroySession(session);
        return NULL;
    }
    session->stopRequested = 0;
    session->failureShown = 0;

    session->instanceMutex = OpenMutexW(MUTEX_ALL_ACCESS, FALSE, instanceMutexName);
    if (session->instanceMutex) {
        int answer = MessageBoxW(NULL,
            L"Can't start second web-installer instance, another Zemrik Web-installer is running. "
            L"Please restart web-installer after previous instance termination",
            L"Zemrik Web-Installer", MB_RETRYCANCEL | MB_ICONWARNING);
        if (answer == IDRETRY)
            session->restartRequested = 1;
        session->stopRequested = 1;
    } else {
        session->instanceMutex = CreateMutexW(NULL, FALSE, instanceMutexName);
    }
    return session;
}

int prepareWorkFolder(InstallSession* session)
{
    GetTempPathW(WORK_FOLDER_CAPACITY, session->workFolder);
    PathAppendW(session->workFolder, L"pmanager-temp");
    if (!PathFileExistsW(session->workFolder))
        CreateDirectoryW(session->workFolder, NULL);
    SetCurrentDirectoryW(session->workFolder);
    return 1;
}

// A window call that the worker made just before the dialog ended may still
// wait for this thread; the join keeps answering such calls (they find no
// window any more) until the worker has ended.
static void joinWorker(HANDLE worker)
{
    while (MsgWaitForMultipleObjects(1, &worker, FALSE, INFINITE, QS_SENDMESSAGE) == WAIT_OBJECT_0 + 1) {
        MSG message;
        PeekMessageW(&message, NULL, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
}

int runProgressUi(InstallSession* session)
{
    HANDLE worker = (HANDLE)_beginthreadex(NULL, 0, workerThreadMain, session, 0, NULL);

    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);
    INT_PTR result = DialogBoxParamW(session->window->instance, MAKEINTRESOURCEW(IDD_PROGRESS), NULL,
                                     progressDialogProc, (LPARAM)session->window);

    requestStop(session);
    if (worker) {
        joinWorker(worker);
        CloseHandle(worker);
    }
    if (result == IDC_RESTART)
        session->restartRequested = 1;
    return 0;
}

void restartSelf(InstallSession* session)
{
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};

    EnterCriticalSection(&session->window->lock);
    RECT rect = session->window->savedRect;
    LeaveCriticalSection(&session->window->lock);
    // An empty rectangle means no dialog was ever closed; asking for a window
    // of size 0 would only hide the new one.
    if (rect.right > rect.left && rect.bottom > rect.top) {
        startup.dwFlags = STARTF_USESIZE | STARTF_USEPOSITION;
        startup.dwX = rect.left;
        startup.dwY = rect.top;
        startup.dwXSize = rect.right - rect.left;
        startup.dwYSize = rect.bottom - rect.top;
    }

    wchar_t path[MAX_PATH];
    DWORD length = GetModuleFileNameW(NULL, path, MAX_PATH);
    // A path cut short would name another program.
    if (length == 0 || length >= MAX_PATH)
        return;
    // Quoted, so that a path with spaces can't start a different program.
    wchar_t commandLine[MAX_PATH + 2];
    wnsprintfW(commandLine, MAX_PATH + 2, L"\"%s\"", path);
    if (CreateProcessW(NULL, commandLine, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process)) {
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
}

unsigned __stdcall workerThreadMain(void* argument)
{
    InstallSession* session = (InstallSession*)argument;
    // Gives the dialog time to store its handle before the first update.
    Sleep(100);
    // On a busy machine the dialog can take longer than that; an update made
    // before it has its handle is lost, and a lost close request would leave
    // the window open for good. The dialog's end requests the stop, so this
    // never waits past it.
    while (!getWindowHandle(session->window) && !session->stopRequested)
        Sleep(10);
    if (session->workRoutine)
        session->workRoutine(session);
    if (!session->failureShown) {
        HWND dialog = getWindowHandle(session->window);
        if (dialog)
            SendMessageW(dialog, WM_CLOSE, 0, 0);
    }
    _endthreadex(0);
    return 0;
}

void requestStop(InstallSession* session)
{
    InterlockedExchange(&session->stopRequested, 1);
    SetEvent(session->downloadClient->stopEvent);
}

void reportFailure(InstallSession* session, const wchar_t* message)
{
    requestStop(session);
    session->failureShown = 1;
    if (!session->window)
        return;
    setProgress(session->window, -1);
    enterFailureMode(session->window);
    setStatusText(session->window, message);
    ShowWindow(getWindowHandle(session->window), SW_SHOW);
}
