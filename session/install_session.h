// One run of the installer: the session record, the entry's steps, the worker
// thread with its stop signal and failure report, and the self-restart.
#pragma once
#include <windows.h>

struct ProgressWindow;
struct DownloadClient;
struct InstallSession;

#define WORK_FOLDER_CAPACITY 260

typedef void (*WorkRoutine)(InstallSession* session);

struct InstallSession {
    WorkRoutine workRoutine;
    ProgressWindow* window;           // owned
    DownloadClient* downloadClient;   // owned
    volatile LONG stopRequested;      // only ever goes from 0 to 1
    volatile LONG failureShown;
    volatile LONG restartRequested;
    HANDLE instanceMutex;             // may be null
    wchar_t workFolder[WORK_FOLDER_CAPACITY];
};

// Exit codes of the process.
#define EXIT_CODE_DONE 0
#define EXIT_CODE_ANOTHER_INSTANCE 1
#define EXIT_CODE_OUT_OF_MEMORY 2

// The whole run of the program with the given work routine; returns the exit code.
int runInstaller(HINSTANCE instance, WorkRoutine workRoutine);

// The session with its work folder, window record, download client and
// single-instance guard; null when any of the records can't be allocated.
InstallSession* createSession(HINSTANCE instance);
// Releases everything the session owns, except the mutex handle.
void destroySession(InstallSession* session);
// Fills workFolder, creates the folder when missing, makes it current; always 1.
int prepareWorkFolder(InstallSession* session);
// Runs the worker and the modal dialog, then stops and joins the worker; always 0.
int runProgressUi(InstallSession* session);
// Starts the program's own file again, quoted and without arguments.
void restartSelf(InstallSession* session);
unsigned __stdcall workerThreadMain(void* session);
// Either thread, any number of times: marks the stop and wakes a waiting download.
void requestStop(InstallSession* session);
// Worker only: stops the run and leaves the window open in failure mode with the message.
void reportFailure(InstallSession* session, const wchar_t* message);
