// Starting programs with the stand-ins, and unpacking with the real decoder
// library and a fake one.
#include <gtest/gtest.h>

#include <windows.h>
#include <process.h>
#include <shellapi.h>
#include <shlwapi.h>
#include <string>
#include <vector>

#include "download/download_client.h"
#include "install/installation_pipeline.h"
#include "session/install_session.h"
#include "tests/support/test_files.h"
#include "tests/support/wine_paths.h"

namespace {

// A session without a window; a client whose proxy fields the tests fill.
struct Launching : ::testing::Test {
    DownloadClient* client = createDownloadClient(NULL);
    InstallSession session = {};
    std::wstring folder;
    std::wstring manager;
    std::wstring managerLog;

    void SetUp() override
    {
        session.downloadClient = client;
        folder = makeScratchFolder(L"Zemrik Manager");
        manager = folder + L"\\manager.exe";
        managerLog = folder + L"\\manager.log";
        ASSERT_TRUE(CopyFileW(windowsPathOf(MANAGER_STANDIN).c_str(), manager.c_str(), FALSE));
    }
    void TearDown() override { destroyDownloadClient(client); }

    // The command lines the manager stand-in recorded, after its window note.
    std::vector<std::wstring> managerCommandLines(size_t expected = 0)
    {
        std::vector<std::wstring> lines = readUtf16Lines(managerLog);
        for (int i = 0; i < 500 && lines.size() < expected; i++) {
            Sleep(20);
            lines = readUtf16Lines(managerLog);
        }
        for (std::wstring& line : lines)
            line = line.substr(line.find(L'\t') + 1);
        return lines;
    }
};

TEST_F(Launching, WaitsForTheSetupAndHandsBackItsExitCode)
{
    SetEnvironmentVariableW(L"PMTEST_SETUP_EXIT", L"5");
    SetEnvironmentVariableW(L"PMTEST_INSTALL_DIR", folder.c_str());
    std::wstring setup = folder + L"\\setup.exe";
    ASSERT_TRUE(CopyFileW(windowsPathOf(SETUP_STANDIN).c_str(), setup.c_str(), FALSE));
    DWORD exitCode = 0;
    EXPECT_EQ(1, launchProgram(&session, setup.c_str(), L"/NORESTART /SILENT", 1, &exitCode));
    SetEnvironmentVariableW(L"PMTEST_SETUP_EXIT", NULL);
    SetEnvironmentVariableW(L"PMTEST_INSTALL_DIR", NULL);
    EXPECT_EQ(5u, exitCode);

    std::vector<std::wstring> lines = readUtf16Lines(folder + L"\\setup.log");
    ASSERT_EQ(1u, lines.size());
    std::wstring commandLine = lines[0].substr(lines[0].find(L'\t') + 1);
    EXPECT_EQ(L"\"" + setup + L"\" /NORESTART /SILENT", commandLine);
    std::vector<std::wstring> arguments = splitCommandLine(commandLine);
    ASSERT_EQ(3u, arguments.size());
    EXPECT_EQ(setup, arguments[0]);
}

TEST_F(Launching, WithoutArgumentsTheCommandLineIsTheQuotedPath)
{
    EXPECT_EQ(1, launchProgram(&session, manager.c_str(), NULL, 1, NULL));
    std::vector<std::wstring> lines = managerCommandLines();
    ASSERT_EQ(1u, lines.size());
    EXPECT_EQ(L"\"" + manager + L"\"", lines[0]);
}

TEST_F(Launching, WithoutWaitingTheExitCodeIsNotRead)
{
    DWORD exitCode = 777;
    EXPECT_EQ(1, launchProgram(&session, manager.c_str(),
                               L"--requestInstall:{D886EFBF-8CCD-43c6-B32B-BFD85F4E6EEB}", 0, &exitCode));
    EXPECT_EQ(777u, exitCode);
    std::vector<std::wstring> lines = managerCommandLines(1);
    ASSERT_EQ(1u, lines.size());
    std::vector<std::wstring> arguments = splitCommandLine(lines[0]);
    ASSERT_EQ(2u, arguments.size());
    EXPECT_EQ(L"--requestInstall:{D886EFBF-8CCD-43c6-B32B-BFD85F4E6EEB}", arguments[1]);
}

TEST_F(Launching, AProgramThatCantStartOrDoesNotFitIsNotStarted)
{
    DWORD exitCode = 777;
    EXPECT_EQ(0, launchProgram(&session, (folder + L"\\missing.exe").c_str(), L"/SILENT", 1, &exitCode));
    EXPECT_EQ(0, launchProgram(&session, L"", NULL, 1, &exitCode));
    std::wstring longArguments(LAUNCH_COMMAND_LINE_CAPACITY, L'a');
    EXPECT_EQ(0, launchProgram(&session, manager.c_str(), longArguments.c_str(), 1, &exitCode));
    EXPECT_EQ(777u, exitCode);
    EXPECT_TRUE(readUtf16Lines(managerLog).empty());
}

struct ProxyCase {
    const char* name;
    const wchar_t* user;
    const wchar_t* password;
    const wchar_t* received;  // NULL: nothing is started
};

TEST_F(Launching, ProxyCredentialsReachTheManagerAsOneArgument)
{
    const ProxyCase cases[] = {
        {"both empty", L"", L"", NULL},
        {"plain", L"proxyuser", L"secret", L"--configureProxy:proxyuser:secret"},
        {"user alone", L"proxyuser", L"", L"--configureProxy:proxyuser:"},
        {"password alone", L"", L"secret", L"--configureProxy::secret"},
        {"space and quote", L"proxy user", L"pa\"ss word\\", L"--configureProxy:proxy user:pa\"ss word\\"},
        {"an option hidden in the password", L"u", L"x --requestInstall:{0}", L"--configureProxy:u:x --requestInstall:{0}"},
    };
    for (const ProxyCase& c : cases) {
        SCOPED_TRACE(c.name);
        DeleteFileW(managerLog.c_str());
        lstrcpynW(client->proxyUserName, c.user, CLIENT_TEXT_CAPACITY);
        lstrcpynW(client->proxyPassword, c.password, CLIENT_TEXT_CAPACITY);
        configureManagerProxy(&session, manager.c_str());
        std::vector<std::wstring> lines = managerCommandLines();
        if (!c.received) {
            EXPECT_TRUE(lines.empty());
            continue;
        }
        ASSERT_EQ(1u, lines.size());
        std::vector<std::wstring> arguments = splitCommandLine(lines[0]);
        ASSERT_EQ(2u, arguments.size()) << lines[0].c_str();
        EXPECT_EQ(manager, arguments[0]);
        EXPECT_EQ(c.received, arguments[1]);
    }
}

TEST_F(Launching, PlainCredentialsGiveTheDesignedCommandLine)
{
    lstrcpynW(client->proxyUserName, L"proxyuser", CLIENT_TEXT_CAPACITY);
    lstrcpynW(client->proxyPassword, L"secret", CLIENT_TEXT_CAPACITY);
    configureManagerProxy(&session, manager.c_str());
    std::vector<std::wstring> lines = managerCommandLines();
    ASSERT_EQ(1u, lines.size());
    EXPECT_EQ(L"\"" + manager + L"\" --configureProxy:proxyuser:secret", lines[0]);
}

TEST_F(Launching, ACredentialLineThatDoesNotFitStartsNothing)
{
    lstrcpynW(client->proxyUserName, std::wstring(200, L'u').c_str(), CLIENT_TEXT_CAPACITY);
    lstrcpynW(client->proxyPassword, L"secret", CLIENT_TEXT_CAPACITY);
    configureManagerProxy(&session, manager.c_str());
    EXPECT_TRUE(readUtf16Lines(managerLog).empty());
}

// Closes every "Unpacking error" box the decoder's failure shows, and counts them.
struct ErrorBoxes {
    volatile LONG shown;
    volatile LONG stop;
    HANDLE thread;
};

unsigned __stdcall dismissErrorBoxes(void* argument)
{
    ErrorBoxes* boxes = (ErrorBoxes*)argument;
    while (!boxes->stop) {
        HWND box = FindWindowW(L"#32770", L"Error");
        if (box) {
            wchar_t text[64] = L"";
            GetDlgItemTextW(box, 0xFFFF, text, 64);
            if (!lstrcmpW(text, L"Unpacking error"))
                InterlockedIncrement(&boxes->shown);
            SendMessageW(box, WM_COMMAND, IDOK, 0);
        }
        Sleep(20);
    }
    return 0;
}

struct Unpacking : ::testing::Test {
    std::wstring folder = makeScratchFolder(L"unpack");
    std::wstring decoder = windowsPathOf(DECODER_DLL);
    ErrorBoxes boxes = {};

    void SetUp() override { boxes.thread = (HANDLE)_beginthreadex(NULL, 0, dismissErrorBoxes, &boxes, 0, NULL); }
    void TearDown() override
    {
        InterlockedExchange(&boxes.stop, 1);
        WaitForSingleObject(boxes.thread, 5000);
        CloseHandle(boxes.thread);
    }
    std::wstring package(const wchar_t* name)
    {
        std::wstring path = folder + L"\\" + name;
        EXPECT_TRUE(CopyFileW((windowsPathOf(TEST_PACKAGES) + L"\\" + name).c_str(), path.c_str(), FALSE));
        return path;
    }
};

TEST_F(Unpacking, TheLastReportedFileIsTheSetup)
{
    wchar_t name[PIPELINE_TEXT_CAPACITY] = L"unchanged";
    EXPECT_EQ(1, unpackWithDecoder(decoder.c_str(), package(L"several.7z").c_str(), name));
    EXPECT_STREQ(L"setup.exe", name);
    EXPECT_TRUE(PathFileExistsW((folder + L"\\setup.exe").c_str()));
    EXPECT_TRUE(PathFileExistsW((folder + L"\\docs\\readme.txt").c_str()));
    EXPECT_EQ(0, boxes.shown);
}

TEST_F(Unpacking, AFolderAloneReportsNoFile)
{
    wchar_t name[PIPELINE_TEXT_CAPACITY] = L"unchanged";
    EXPECT_EQ(1, unpackWithDecoder(decoder.c_str(), package(L"folder-only.7z").c_str(), name));
    EXPECT_STREQ(L"", name);
}

TEST_F(Unpacking, ADecoderFailureShowsItsBox)
{
    wchar_t name[PIPELINE_TEXT_CAPACITY] = L"unchanged";
    EXPECT_EQ(0, unpackWithDecoder(decoder.c_str(), package(L"truncated.7z").c_str(), name));
    EXPECT_STREQ(L"unchanged", name);
    EXPECT_EQ(1, boxes.shown);
}

TEST_F(Unpacking, NoLibraryOrNoExportFailsWithoutABox)
{
    std::wstring archive = package(L"several.7z");
    wchar_t name[PIPELINE_TEXT_CAPACITY] = L"unchanged";
    EXPECT_EQ(0, unpackWithDecoder((folder + L"\\7zDecoder.dll").c_str(), archive.c_str(), name));
    wchar_t system[MAX_PATH];
    GetSystemDirectoryW(system, MAX_PATH);
    EXPECT_EQ(0, unpackWithDecoder((std::wstring(system) + L"\\shlwapi.dll").c_str(), archive.c_str(), name));
    EXPECT_STREQ(L"unchanged", name);
    EXPECT_EQ(0, boxes.shown);
}

TEST_F(Unpacking, AnArchivePathTooLongForTheAnsiBufferIsRefused)
{
    std::wstring archive = folder + L"\\" + std::wstring(300, L'a') + L".7z";
    wchar_t name[PIPELINE_TEXT_CAPACITY] = L"unchanged";
    EXPECT_EQ(0, unpackWithDecoder(decoder.c_str(), archive.c_str(), name));
    EXPECT_EQ(0, boxes.shown);
}

TEST_F(Unpacking, ANameTooLongToHoldIsForgottenNotCut)
{
    std::wstring fake = windowsPathOf(FAKE_DECODER);
    wchar_t name[PIPELINE_TEXT_CAPACITY];
    SetEnvironmentVariableW(L"PMTEST_FAKE_NAMES", (L"first.txt|" + std::wstring(300, L'n')).c_str());
    EXPECT_EQ(1, unpackWithDecoder(fake.c_str(), L"C:\\any.7z", name));
    EXPECT_STREQ(L"", name);
    SetEnvironmentVariableW(L"PMTEST_FAKE_NAMES", (std::wstring(259, L'n') + L"|second.exe").c_str());
    EXPECT_EQ(1, unpackWithDecoder(fake.c_str(), L"C:\\any.7z", name));
    EXPECT_STREQ(L"second.exe", name);
    SetEnvironmentVariableW(L"PMTEST_FAKE_NAMES", NULL);
}

}  // namespace
