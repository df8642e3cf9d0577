#include <gtest/gtest.h>

#include <windows.h>
#include <shlwapi.h>
#include <string>

#include <process.h>

#include "download/download_client.h"
#include "session/install_session.h"
#include "tests/support/dialog_host.h"
#include "ui/progress_window.h"

namespace {

// A scratch temporary folder for one test: GetTempPathW reads TMP.
struct ScratchTemp : ::testing::Test {
    wchar_t scratch[MAX_PATH];
    wchar_t savedTmp[MAX_PATH];
    wchar_t savedDirectory[MAX_PATH];

    void SetUp() override
    {
        GetEnvironmentVariableW(L"TMP", savedTmp, MAX_PATH);
        GetCurrentDirectoryW(MAX_PATH, savedDirectory);
        GetTempPathW(MAX_PATH, scratch);
        wchar_t name[64];
        wsprintfW(name, L"session-test-%lu-%lu", GetCurrentProcessId(), GetTickCount());
        PathAppendW(scratch, name);
        ASSERT_TRUE(CreateDirectoryW(scratch, NULL));
        SetEnvironmentVariableW(L"TMP", scratch);
    }
    void TearDown() override
    {
        SetCurrentDirectoryW(savedDirectory);
        SetEnvironmentVariableW(L"TMP", savedTmp);
    }
    std::wstring workFolder() { return std::wstring(scratch) + L"\\pmanager-temp"; }
    std::wstring currentDirectory()
    {
        wchar_t directory[MAX_PATH];
        GetCurrentDirectoryW(MAX_PATH, directory);
        return directory;
    }
};

TEST_F(ScratchTemp, WorkFolderIsCreatedAndMadeCurrent)
{
    InstallSession session = {};
    EXPECT_EQ(1, prepareWorkFolder(&session));
    EXPECT_EQ(workFolder(), session.workFolder);
    EXPECT_TRUE(PathIsDirectoryW(session.workFolder));
    EXPECT_EQ(workFolder(), currentDirectory());
}

TEST_F(ScratchTemp, ExistingWorkFolderIsReusedWithItsFiles)
{
    ASSERT_TRUE(CreateDirectoryW(workFolder().c_str(), NULL));
    std::wstring kept = workFolder() + L"\\package.7z";
    HANDLE file = CreateFileW(kept.c_str(), GENERIC_WRITE, 0, NULL, CREATE_NEW, 0, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    CloseHandle(file);

    InstallSession session = {};
    EXPECT_EQ(1, prepareWorkFolder(&session));
    EXPECT_TRUE(PathFileExistsW(kept.c_str()));
    EXPECT_EQ(workFolder(), currentDirectory());
}

TEST_F(ScratchTemp, OrdinaryFileOfThatNameIsLeftAlone)
{
    HANDLE file = CreateFileW(workFolder().c_str(), GENERIC_WRITE, 0, NULL, CREATE_NEW, 0, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    CloseHandle(file);
    std::wstring before = currentDirectory();

    InstallSession session = {};
    EXPECT_EQ(1, prepareWorkFolder(&session));
    EXPECT_FALSE(PathIsDirectoryW(workFolder().c_str()));
    EXPECT_TRUE(PathFileExistsW(workFolder().c_str()));
    EXPECT_EQ(before, currentDirectory());
}

struct StopSignal : ::testing::Test {
    ProgressWindow* window = createProgressWindow(GetModuleHandleW(NULL));
    DownloadClient* client = createDownloadClient(window);
    InstallSession session = {};

    void SetUp() override
    {
        session.window = window;
        session.downloadClient = client;
    }
    void TearDown() override
    {
        destroyDownloadClient(client);
        destroyProgressWindow(window);
    }
};

TEST_F(StopSignal, FreshClientIsEmptyAndUnsignalled)
{
    EXPECT_STREQ(L"", client->lastError);
    EXPECT_STREQ(L"", client->proxyUserName);
    EXPECT_STREQ(L"", client->proxyPassword);
    EXPECT_EQ(window, client->window);
    EXPECT_EQ((DWORD)WAIT_TIMEOUT, WaitForSingleObject(client->stopEvent, 0));
}

TEST_F(StopSignal, StopSetsTheFlagAndEndsOneWaitOnly)
{
    requestStop(&session);
    EXPECT_EQ(1, session.stopRequested);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(client->stopEvent, 0));
    // Auto-reset: the wait that saw the signal consumed it.
    EXPECT_EQ((DWORD)WAIT_TIMEOUT, WaitForSingleObject(client->stopEvent, 0));
}

TEST_F(StopSignal, RepeatedStopsChangeNothingMore)
{
    requestStop(&session);
    requestStop(&session);
    EXPECT_EQ(1, session.stopRequested);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(client->stopEvent, 0));
    EXPECT_EQ((DWORD)WAIT_TIMEOUT, WaitForSingleObject(client->stopEvent, 0));
}

TEST_F(StopSignal, FailureReportStopsAndMarksTheFailureShownEvenWithoutAWindow)
{
    session.window = NULL;
    reportFailure(&session, L"Error during installation");
    EXPECT_EQ(1, session.stopRequested);
    EXPECT_EQ(1, session.failureShown);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(client->stopEvent, 0));
}

TEST_F(StopSignal, FailureReportBeforeTheDialogRecordsTheBusyBar)
{
    reportFailure(&session, L"Installation was canceled");
    EXPECT_EQ(1, session.failureShown);
    EXPECT_EQ(-1, window->lastProgress);
}

void reportProgress(InstallSession* session)
{
    setProgress(session->window, 42);
}

TEST_F(StopSignal, AWorkerWaitsForADialogThatComesLate)
{
    session.workRoutine = reportProgress;
    HANDLE worker = (HANDLE)_beginthreadex(NULL, 0, workerThreadMain, &session, 0, NULL);
    // Well past the worker's own pause: nothing may have been done yet.
    Sleep(500);
    EXPECT_EQ((DWORD)WAIT_TIMEOUT, WaitForSingleObject(worker, 0));
    EXPECT_EQ(0, window->lastProgress);

    DialogHost host;
    ASSERT_TRUE(startDialogHost(&host, window));
    // The update reaches the late dialog, and its close request ends it.
    ASSERT_TRUE(joinDialogHost(&host, 10000));
    EXPECT_EQ(IDCANCEL, host.result);
    EXPECT_EQ(1, host.log.positionsSet);
    EXPECT_EQ((DWORD)WAIT_OBJECT_0, WaitForSingleObject(worker, 10000));
    CloseHandle(worker);
}

TEST_F(StopSignal, AWorkerWhoseDialogNeverCameEndsWithTheStop)
{
    HANDLE worker = (HANDLE)_beginthreadex(NULL, 0, workerThreadMain, &session, 0, NULL);
    Sleep(200);
    requestStop(&session);
    EXPECT_EQ((DWORD)WAIT_OBJECT_0, WaitForSingleObject(worker, 10000));
    CloseHandle(worker);
}

}  // namespace
