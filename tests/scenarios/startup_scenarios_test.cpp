// The program's start, end and restart, driven through its windows.
#include <gtest/gtest.h>

#include <windows.h>
#include <shellapi.h>

#include "tests/scenarios/controller.h"
#include "tests/support/test_files.h"
#include "tests/support/wine_paths.h"

namespace {

const wchar_t caption[] = L"Pellucast Firefox Addon Web-Installer";
const wchar_t warningTitle[] = L"Zemrik Web-Installer";
const wchar_t warningText[] =
    L"Can't start second web-installer instance, another Zemrik Web-installer is running. "
    L"Please restart web-installer after previous instance termination";
const DWORD patience = 15000;

struct Startup : ::testing::Test {
    std::wstring installer = windowsPathOf(SCENARIO_INSTALLER);
    std::wstring temp;
    std::wstring log;
    std::vector<StartedProgram> started;

    void SetUp() override
    {
        temp = makeScratchFolder(L"scenario-startup");
        log = temp + L"\\starts.log";
        SetEnvironmentVariableW(L"TMP", temp.c_str());
        SetEnvironmentVariableW(L"TEMP", temp.c_str());
        SetEnvironmentVariableW(L"PMTEST_LOG", log.c_str());
    }
    void TearDown() override
    {
        for (StartedProgram& program : started)
            endProgram(&program);
        // Instances that a restart started are not ours to wait for, but must not outlive the test.
        for (const StartRecord& record : readStartLog(log)) {
            HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, record.processId);
            if (process) {
                TerminateProcess(process, 99);
                WaitForSingleObject(process, 5000);
                CloseHandle(process);
            }
        }
    }
    StartedProgram start(const wchar_t* routine)
    {
        SetEnvironmentVariableW(L"PMTEST_ROUTINE", routine);
        StartedProgram program = startProgram(installer);
        EXPECT_NE((HANDLE)NULL, program.process);
        started.push_back(program);
        return program;
    }
    // The program that a restart started: the start log's newest entry.
    StartedProgram waitForStartNumber(size_t number)
    {
        DWORD begin = GetTickCount();
        std::vector<StartRecord> records = readStartLog(log);
        while (records.size() < number && GetTickCount() - begin < patience) {
            Sleep(20);
            records = readStartLog(log);
        }
        StartedProgram program = {};
        if (records.size() >= number) {
            program.id = records[number - 1].processId;
            program.process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION | PROCESS_TERMINATE, FALSE, program.id);
            started.push_back(program);
        }
        return program;
    }
};

TEST_F(Startup, EmptyWorkRoutineLetsTheDialogCloseByItself)
{
    StartedProgram program = start(L"empty");
    EXPECT_EQ(0u, waitForExit(program, patience));
}

TEST_F(Startup, DialogShowsItsCaptionAndCancelEndsTheRun)
{
    StartedProgram program = start(L"wait");
    HWND dialog = waitForWindow(program.id, caption, patience);
    ASSERT_NE((HWND)NULL, dialog);
    EXPECT_EQ(L"Preparing to install...", controlText(dialog, 1003));
    EXPECT_EQ(L"Cancel", controlText(dialog, IDCANCEL));
    pressButton(dialog, IDCANCEL);
    EXPECT_EQ(0u, waitForExit(program, patience));
}

TEST_F(Startup, SecondInstanceAnsweredWithCancelStartsNothing)
{
    StartedProgram first = start(L"wait");
    ASSERT_NE((HWND)NULL, waitForWindow(first.id, caption, patience));
    StartedProgram second = start(L"wait");
    HWND warning = waitForWindow(second.id, warningTitle, patience);
    ASSERT_NE((HWND)NULL, warning);
    EXPECT_EQ(warningText, controlText(warning, 0xFFFF));
    EXPECT_EQ(NULL, waitForWindow(second.id, caption, 200)) << "the refused instance showed its dialog";
    pressButton(warning, IDCANCEL);
    EXPECT_EQ(1u, waitForExit(second, patience));
    Sleep(500);
    EXPECT_EQ(2u, readStartLog(log).size());
    pressButton(waitForWindow(first.id, caption, patience), IDCANCEL);
    EXPECT_EQ(0u, waitForExit(first, patience));
}

TEST_F(Startup, SecondInstanceAnsweredWithRetryStartsOneNewProcess)
{
    StartedProgram first = start(L"wait");
    ASSERT_NE((HWND)NULL, waitForWindow(first.id, caption, patience));
    StartedProgram second = start(L"wait");
    HWND warning = waitForWindow(second.id, warningTitle, patience);
    ASSERT_NE((HWND)NULL, warning);
    pressButton(warning, IDRETRY);
    EXPECT_EQ(1u, waitForExit(second, patience));

    // The first instance still runs, so the new one is refused in turn.
    StartedProgram third = waitForStartNumber(3);
    ASSERT_NE((HANDLE)NULL, third.process);
    HWND again = waitForWindow(third.id, warningTitle, patience);
    ASSERT_NE((HWND)NULL, again);
    pressButton(again, IDCANCEL);
    EXPECT_EQ(1u, waitForExit(third, patience));
    Sleep(500);
    EXPECT_EQ(3u, readStartLog(log).size());

    pressButton(waitForWindow(first.id, caption, patience), IDCANCEL);
    EXPECT_EQ(0u, waitForExit(first, patience));
}

TEST_F(Startup, FailureReportLeavesTheWindowInFailureModeUntilClose)
{
    StartedProgram program = start(L"fail");
    HWND dialog = waitForWindow(program.id, caption, patience);
    ASSERT_NE((HWND)NULL, dialog);
    EXPECT_EQ(L"Can't send a HTTP request\nDownload failed",
              waitForText(dialog, 1003, L"Can't send a HTTP request\nDownload failed", patience));
    // The worker has ended long ago; the window must still be there.
    Sleep(500);
    EXPECT_TRUE(IsWindow(dialog));
    EXPECT_EQ(L"Close", controlText(dialog, IDCANCEL));
    EXPECT_TRUE(IsWindowVisible(GetDlgItem(dialog, 4)));
    EXPECT_FALSE(IsWindowVisible(GetDlgItem(dialog, 1001)));
    EXPECT_FALSE(IsWindowVisible(GetDlgItem(dialog, 1006)));
    pressButton(dialog, IDCANCEL);
    EXPECT_EQ(0u, waitForExit(program, patience));
    EXPECT_EQ(1u, readStartLog(log).size());
}

// The program lies in a folder whose name has a space, beside a decoy that an
// unquoted command line would start instead.
TEST_F(Startup, RestartStartsOneNewInstanceWithoutArgumentsInTheWorkFolder)
{
    std::wstring folder = temp + L"\\Zemrik Installer";
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), NULL));
    ASSERT_TRUE(CopyFileW(installer.c_str(), (temp + L"\\Zemrik.exe").c_str(), FALSE));
    installer = folder + L"\\setup.exe";
    ASSERT_TRUE(CopyFileW(windowsPathOf(SCENARIO_INSTALLER).c_str(), installer.c_str(), FALSE));

    StartedProgram program = start(L"fail");
    HWND dialog = waitForWindow(program.id, caption, patience);
    ASSERT_NE((HWND)NULL, dialog);
    waitForText(dialog, 1003, L"Can't send a HTTP request\nDownload failed", patience);
    pressButton(dialog, 4);
    EXPECT_EQ(0u, waitForExit(program, patience));

    StartedProgram restarted = waitForStartNumber(2);
    ASSERT_NE((HANDLE)NULL, restarted.process);
    StartRecord record = readStartLog(log)[1];
    EXPECT_EQ(0, lstrcmpiW(installer.c_str(), record.program.c_str())) << "started " << record.program.c_str();
    int argumentCount = 0;
    LPWSTR* arguments = CommandLineToArgvW(record.commandLine.c_str(), &argumentCount);
    ASSERT_NE((LPWSTR*)NULL, arguments);
    EXPECT_EQ(1, argumentCount) << record.commandLine.c_str();
    EXPECT_EQ(0, lstrcmpiW(installer.c_str(), arguments[0]));
    LocalFree(arguments);
    EXPECT_EQ(0, lstrcmpiW((temp + L"\\pmanager-temp").c_str(), record.directory.c_str()));

    // The mutex was gone before the new instance looked: it runs normally.
    HWND again = waitForWindow(restarted.id, caption, patience);
    ASSERT_NE((HWND)NULL, again);
    waitForText(again, 1003, L"Can't send a HTTP request\nDownload failed", patience);
    pressButton(again, IDCANCEL);
    EXPECT_EQ(0u, waitForExit(restarted, patience));
}

TEST_F(Startup, ClosingWhileTheWorkerUpdatesInATightLoopNeverHangs)
{
    for (int round = 0; round < 25; round++) {
        SCOPED_TRACE(round);
        StartedProgram program = start(L"spin");
        HWND dialog = waitForWindow(program.id, caption, patience);
        ASSERT_NE((HWND)NULL, dialog);
        Sleep((round % 6) * 15);
        if (round % 2)
            PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
        else
            pressButton(dialog, IDCANCEL);
        ASSERT_EQ(0u, waitForExit(program, patience));
    }
}

}  // namespace
