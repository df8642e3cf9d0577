// Whole runs of the real pipeline under Wine: the installer against the
// loopback package server, a real 7z package holding the setup stand-in and
// the real decoder library.
#include <gtest/gtest.h>

#include <windows.h>
#include <shellapi.h>
#include <tlhelp32.h>

#include "tests/scenarios/controller.h"
#include "tests/support/test_files.h"
#include "tests/support/test_http_server.h"
#include "tests/support/wine_paths.h"

namespace {

const wchar_t caption[] = L"Pellucast Firefox Addon Web-Installer";
const wchar_t managerKey[] = L"SOFTWARE\\Zemrik Security\\Manager";
const wchar_t addonRequest[] = L"--requestInstall:{D886EFBF-8CCD-43c6-B32B-BFD85F4E6EEB}";
const char updatePath[] = "/pellucast_manager/packages/manager/get_highest_version.php";
const char packagePath[] = "/pellucast_manager/packages/manager/manager-1.0.7z";
const char decoderPath[] = "/pellucast_manager/packages/7zDecoder.dll";
const DWORD patience = 60000;

DWORD fileSize(const std::wstring& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data))
        return (DWORD)-1;
    return data.nFileSizeLow;
}

FILETIME lastWrite(const std::wstring& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data);
    return data.ftLastWriteTime;
}

// What a run showed while the controller watched it.
struct RunView {
    std::vector<std::wstring> statuses;  // each change of the status line
    std::vector<std::wstring> boxes;      // texts of the message boxes answered
    int credentialDialogs = 0;
    HWND dialog = NULL;
    bool seenVisible = false;
    bool hiddenWhileWorking = false;     // hidden before the add-on request went out
    DWORD exitCode = STILL_ACTIVE;
};

struct WindowsOf {
    DWORD processId;
    std::vector<HWND> windows;
};

BOOL CALLBACK collectWindow(HWND window, LPARAM argument)
{
    WindowsOf* of = (WindowsOf*)argument;
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == of->processId)
        of->windows.push_back(window);
    return TRUE;
}

std::wstring titleOf(HWND window)
{
    wchar_t title[260] = L"";
    GetWindowTextW(window, title, 260);
    return title;
}

struct Pipeline : ::testing::Test {
    TestHttpServer* server = NULL;
    std::wstring installer = windowsPathOf(SCENARIO_INSTALLER);
    std::wstring packages = windowsPathOf(TEST_PACKAGES);
    std::wstring temp;
    std::wstring workFolder;
    std::wstring installFolder;
    std::vector<StartedProgram> started;
    const char* proxyUser = NULL;
    const char* proxyPassword = NULL;

    void SetUp() override
    {
        server = startTestHttpServer(8870);
        ASSERT_NE((TestHttpServer*)NULL, server) << "port 8870 is taken";
        temp = makeScratchFolder(L"scenario-pipeline");
        workFolder = temp + L"\\pmanager-temp";
        installFolder = temp + L"\\Zemrik Security\\Manager";
        SetEnvironmentVariableW(L"TMP", temp.c_str());
        SetEnvironmentVariableW(L"TEMP", temp.c_str());
        SetEnvironmentVariableW(L"PMTEST_INSTALL_DIR", installFolder.c_str());
        SetEnvironmentVariableW(L"PMTEST_ROUTINE", L"pipeline");
        SetEnvironmentVariableW(L"PMTEST_LOG", NULL);
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, managerKey);
        serve(L"manager-1.0.7z");
    }
    void TearDown() override
    {
        for (StartedProgram& program : started) {
            endExplorersStartedBy(program.id);
            endProgram(&program);
        }
        stopTestHttpServer(server);
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, managerKey);
        const wchar_t* variables[] = {L"PMTEST_INSTALL_DIR", L"PMTEST_ROUTINE", L"PMTEST_SETUP_EXIT",
                                      L"PMTEST_SETUP_DELAY_MS", L"PMTEST_SETUP_WITHOUT_OPEN", L"PMTEST_NOT_ADMIN"};
        for (const wchar_t* variable : variables)
            SetEnvironmentVariableW(variable, NULL);
    }

    // The update answer names manager-1.0.7z, served from the given package file.
    void serve(const wchar_t* packageFile, TestResponse update = TestResponse(), TestResponse package = TestResponse(),
               TestResponse decoder = TestResponse())
    {
        if (update.body.empty())
            update.body = "1.0\n2026-12-11\nmanager-1.0.7z";
        package.filePath = packages + L"\\" + packageFile;
        if (decoder.filePath.empty())
            decoder.filePath = windowsPathOf(DECODER_DLL);
        setRoute(server, updatePath, update);
        setRoute(server, packagePath, package);
        setRoute(server, decoderPath, decoder);
    }

    StartedProgram start()
    {
        StartedProgram program = startProgram(installer);
        EXPECT_NE((HANDLE)NULL, program.process);
        started.push_back(program);
        return program;
    }

    // Watches a run, answering the boxes and dialogs it shows, until it ends
    // or (when given) its status line reads untilStatus.
    RunView watch(const StartedProgram& program, const wchar_t* untilStatus = NULL)
    {
        RunView view;
        DWORD begin = GetTickCount();
        while (GetTickCount() - begin < patience) {
            WindowsOf of = {program.id, {}};
            EnumWindows(collectWindow, (LPARAM)&of);
            for (HWND window : of.windows)
                lookAt(window, &view);
            if (untilStatus && !view.statuses.empty() && view.statuses.back() == untilStatus)
                return view;
            view.exitCode = waitForExit(program, 10);
            if (view.exitCode != STILL_ACTIVE)
                return view;
        }
        return view;
    }

    void lookAt(HWND window, RunView* view)
    {
        std::wstring title = titleOf(window);
        if (title == caption && GetDlgItem(window, 1003)) {
            view->dialog = window;
            std::wstring status = controlText(window, 1003);
            if (view->statuses.empty() || view->statuses.back() != status)
                view->statuses.push_back(status);
            // Once the request to the manager is out, the run closes its window.
            if (IsWindowVisible(window)) {
                view->seenVisible = true;
            } else if (view->seenVisible && !status.empty() && status.find(L"Execute " + installFolder) != 0) {
                view->hiddenWhileWorking = true;
            }
        } else if (title == L"Enter Network Password" && IsWindowVisible(window)) {
            view->credentialDialogs++;
            SendMessageW(GetDlgItem(window, 1027), WM_SETTEXT, 0, (LPARAM)widen(proxyUser).c_str());
            SendMessageW(GetDlgItem(window, 1028), WM_SETTEXT, 0, (LPARAM)widen(proxyPassword).c_str());
            pressButton(window, IDOK);
            Sleep(200);
        } else if (IsWindowVisible(window) && GetDlgItem(window, 0xFFFF)) {
            view->boxes.push_back(title + L": " + controlText(window, 0xFFFF));
            pressButton(window, IDOK);
            Sleep(200);
        }
    }

    static std::wstring widen(const char* text)
    {
        return text ? std::wstring(text, text + strlen(text)) : L"";
    }

    void endExplorersStartedBy(DWORD parent)
    {
        HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
        PROCESSENTRY32W entry = {};
        entry.dwSize = sizeof(entry);
        for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
            if (entry.th32ParentProcessID != parent || lstrcmpiW(entry.szExeFile, L"explorer.exe"))
                continue;
            HANDLE explorer = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, entry.th32ProcessID);
            if (explorer) {
                TerminateProcess(explorer, 0);
                WaitForSingleObject(explorer, 5000);
                CloseHandle(explorer);
            }
        }
        CloseHandle(snapshot);
    }

    int countExplorersStartedBy(DWORD parent)
    {
        int count = 0;
        HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
        PROCESSENTRY32W entry = {};
        entry.dwSize = sizeof(entry);
        for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry))
            if (entry.th32ParentProcessID == parent && !lstrcmpiW(entry.szExeFile, L"explorer.exe"))
                count++;
        CloseHandle(snapshot);
        return count;
    }

    // The manager's log: "window shown" or "window hidden", a tab, its command
    // line. The add-on request isn't waited for, so its line may come late.
    std::vector<std::wstring> managerRequests(size_t expected = 0)
    {
        std::vector<std::wstring> lines = readUtf16Lines(installFolder + L"\\manager.log");
        for (int i = 0; i < 250 && lines.size() < expected; i++) {
            Sleep(20);
            lines = readUtf16Lines(installFolder + L"\\manager.log");
        }
        return lines;
    }
    std::vector<std::wstring> setupRuns() { return readUtf16Lines(installFolder + L"\\setup.log"); }

    // The requests that reached the server, by path.
    std::vector<std::string> requestedPaths()
    {
        std::vector<std::string> paths;
        for (const RecordedRequest& request : recordedRequests(server))
            paths.push_back(request.path);
        return paths;
    }

    void installManagerBeforehand(DWORD type, const void* version, DWORD size, bool withOpen = true)
    {
        HKEY key;
        ASSERT_EQ(ERROR_SUCCESS,
                  RegCreateKeyExW(HKEY_LOCAL_MACHINE, managerKey, 0, NULL, 0, KEY_WRITE, NULL, &key, NULL));
        RegSetValueExW(key, L"version", 0, type, (const BYTE*)version, size);
        if (withOpen) {
            CreateDirectoryW((temp + L"\\Zemrik Security").c_str(), NULL);
            CreateDirectoryW(installFolder.c_str(), NULL);
            std::wstring manager = installFolder + L"\\manager.exe";
            CopyFileW(windowsPathOf(MANAGER_STANDIN).c_str(), manager.c_str(), FALSE);
            RegSetValueExW(key, L"open", 0, REG_SZ, (const BYTE*)manager.c_str(),
                           (DWORD)(manager.size() + 1) * sizeof(wchar_t));
        }
        RegCloseKey(key);
    }

    // The manager got the add-on request alone (with the window as given,
    // unless that is NULL: the run may be closing its window meanwhile).
    void expectAddonRequestOnly(const wchar_t* windowState)
    {
        std::vector<std::wstring> requests = managerRequests(1);
        ASSERT_EQ(1u, requests.size());
        if (windowState) {
            EXPECT_EQ(windowState, requests[0].substr(0, requests[0].find(L'\t')));
        }
        std::vector<std::wstring> arguments = splitCommandLine(requests[0].substr(requests[0].find(L'\t') + 1));
        ASSERT_EQ(2u, arguments.size());
        EXPECT_EQ(addonRequest, arguments[1]);
    }
};

bool contains(const std::vector<std::wstring>& texts, const std::wstring& text)
{
    for (const std::wstring& candidate : texts)
        if (candidate == text)
            return true;
    return false;
}

TEST_F(Pipeline, FreshInstallRunsTheSetupThenAsksForTheAddon)
{
    // Slow answers, so that every status line stays long enough to be seen.
    TestResponse update, package, decoder;
    update.chunkSize = 4;
    update.chunkDelayMs = 100;
    package.chunkSize = 16384;
    package.chunkDelayMs = 80;
    decoder.chunkSize = 32768;
    decoder.chunkDelayMs = 80;
    serve(L"manager-1.0.7z", update, package, decoder);
    SetEnvironmentVariableW(L"PMTEST_SETUP_DELAY_MS", L"1000");

    RunView view = watch(start());
    EXPECT_EQ(0u, view.exitCode);
    EXPECT_TRUE(contains(view.statuses, L"Checking for updates"));
    EXPECT_TRUE(contains(view.statuses, L"Downloading manager-1.0.7z"));
    EXPECT_TRUE(contains(view.statuses, L"Downloading 7zDecoder.dll"));
    std::wstring setup = workFolder + L"\\setup.exe";
    EXPECT_TRUE(contains(view.statuses, L"Execute " + setup));
    EXPECT_TRUE(view.hiddenWhileWorking);
    EXPECT_TRUE(view.boxes.empty());

    std::vector<std::wstring> runs = setupRuns();
    ASSERT_EQ(1u, runs.size());
    EXPECT_EQ(L"window hidden\t\"" + setup + L"\" /NORESTART /SILENT", runs[0]);
    expectAddonRequestOnly(L"window hidden");
    std::vector<std::string> expected = {updatePath, packagePath, decoderPath};
    EXPECT_EQ(expected, requestedPaths());
    // The downloads stay in the work folder, each with its state file.
    EXPECT_EQ(544u, fileSize(workFolder + L"\\manager-1.0.7z.part"));
    EXPECT_EQ(544u, fileSize(workFolder + L"\\7zDecoder.dll.part"));
}

TEST_F(Pipeline, InstalledManagerGetsTheRequestWithoutAnyServerContact)
{
    struct Installed {
        const char* name;
        DWORD type;
        DWORD number;
        const wchar_t* text;
    };
    const Installed versions[] = {
        {"text", REG_SZ, 0, L"3.1.4"},
        {"number", REG_DWORD, 0x00000031, NULL},
    };
    for (const Installed& installed : versions) {
        SCOPED_TRACE(installed.name);
        DeleteFileW((installFolder + L"\\manager.log").c_str());
        if (installed.text)
            installManagerBeforehand(REG_SZ, installed.text, (DWORD)(lstrlenW(installed.text) + 1) * 2);
        else
            installManagerBeforehand(REG_DWORD, &installed.number, sizeof(DWORD));
        RunView view = watch(start());
        EXPECT_EQ(0u, view.exitCode);
        EXPECT_FALSE(view.hiddenWhileWorking);
        EXPECT_TRUE(requestedPaths().empty());
        expectAddonRequestOnly(NULL);
    }
}

TEST_F(Pipeline, VersionWithoutOpenEndsQuietly)
{
    installManagerBeforehand(REG_SZ, L"3.1.4", 12, false);
    RunView view = watch(start());
    EXPECT_EQ(0u, view.exitCode);
    EXPECT_TRUE(view.boxes.empty());
    EXPECT_TRUE(requestedPaths().empty());
    EXPECT_TRUE(managerRequests().empty());
}

struct FailureCase {
    const char* name;
    const wchar_t* exitCode;          // of the setup stand-in, or NULL
    const wchar_t* packageFile;
    int updateStatus;
    const char* updateAnswer;
    int packageStatus;
    int decoderStatus;
    const wchar_t* message;
    const wchar_t* box;               // the message box shown on its own, or NULL
    bool setupRuns;
};

// A valid answer whose name runs past what the installer can hold.
#define LONG_ANSWER \
    "1.0\n2026-12-11\nmanager-1.0.7z" \
    "                                                                                                    " \
    "                                                                                                    " \
    "                                                                                                    " \
    "                                                                                                    " \
    "                                                                                                    "

TEST_F(Pipeline, EachFailureIsShownAndStopsTheRun)
{
    const FailureCase cases[] = {
        {"setup canceled (2)", L"2", L"manager-1.0.7z", 200, NULL, 200, 200, L"Installation was canceled", NULL, true},
        {"setup canceled (5)", L"5", L"manager-1.0.7z", 200, NULL, 200, 200, L"Installation was canceled", NULL, true},
        {"setup error (1)", L"1", L"manager-1.0.7z", 200, NULL, 200, 200, L"Error during installation", NULL, true},
        {"setup can't start", NULL, L"not-a-program.7z", 200, NULL, 200, 200, L"Error during installation", NULL,
         false},
        {"invalid update answer", NULL, L"manager-1.0.7z", 200, "manager-1.0.7z", 200, 200,
         L"Invalid information about package", NULL, false},
        {"answer too long to hold", NULL, L"manager-1.0.7z", 200, LONG_ANSWER, 200, 200,
         L"Invalid information about package", NULL, false},
        {"unsafe package name", NULL, L"manager-1.0.7z", 200, "1\n2\n..\\..\\manager-1.0.7z", 200, 200,
         L"Invalid information about package", NULL, false},
        {"update query fails", NULL, L"manager-1.0.7z", 500, NULL, 200, 200,
         L"Can't send a HTTP request\nDownload failed", NULL, false},
        {"package missing", NULL, L"manager-1.0.7z", 200, NULL, 404, 200,
         L"Can't send a HTTP request\nDownload failed", NULL, false},
        {"decoder missing", NULL, L"manager-1.0.7z", 200, NULL, 200, 404,
         L"Can't send a HTTP request\nDownload failed", NULL, false},
        {"package doesn't unpack", NULL, L"truncated.7z", 200, NULL, 200, 200, L"Unpacking error",
         L"Error: Unpacking error", false},
        {"package holds no file", NULL, L"folder-only.7z", 200, NULL, 200, 200, L"Unpacking error", NULL, false},
    };
    for (const FailureCase& c : cases) {
        SCOPED_TRACE(c.name);
        DeleteFileW((installFolder + L"\\setup.log").c_str());
        // Each case starts from an empty work folder.
        SHFILEOPSTRUCTW remove = {};
        std::wstring doomed = workFolder + L'\0';
        remove.wFunc = FO_DELETE;
        remove.pFrom = doomed.c_str();
        remove.fFlags = FOF_NO_UI;
        SHFileOperationW(&remove);
        SetEnvironmentVariableW(L"PMTEST_SETUP_EXIT", c.exitCode);
        TestResponse update, package, decoder;
        update.status = c.updateStatus;
        if (c.updateAnswer)
            update.body = c.updateAnswer;
        package.status = c.packageStatus;
        decoder.status = c.decoderStatus;
        serve(c.packageFile, update, package, decoder);

        StartedProgram program = start();
        RunView view = watch(program, c.message);
        ASSERT_EQ(STILL_ACTIVE, view.exitCode) << "the run ended instead of showing its failure";
        ASSERT_NE((HWND)NULL, view.dialog);
        EXPECT_EQ(c.message, view.statuses.back());
        EXPECT_TRUE(IsWindowVisible(view.dialog));
        EXPECT_EQ(L"Close", controlText(view.dialog, IDCANCEL));
        EXPECT_TRUE(IsWindowVisible(GetDlgItem(view.dialog, 4)));
        if (c.box) {
            ASSERT_EQ(1u, view.boxes.size());
            EXPECT_EQ(c.box, view.boxes[0]);
        } else {
            EXPECT_TRUE(view.boxes.empty());
        }
        EXPECT_EQ(c.setupRuns ? 1u : 0u, setupRuns().size());
        EXPECT_TRUE(managerRequests().empty());
        pressButton(view.dialog, IDCANCEL);
        EXPECT_EQ(0u, waitForExit(program, patience));
    }
}

TEST_F(Pipeline, CanceledDownloadIsResumedOrSkippedByLaterRuns)
{
    TestResponse slow;
    slow.chunkSize = 1024;
    slow.chunkDelayMs = 50;
    serve(L"manager-1.0.7z", TestResponse(), slow);
    StartedProgram first = start();
    RunView view = watch(first, L"Downloading manager-1.0.7z");
    ASSERT_NE((HWND)NULL, view.dialog);
    std::wstring package = workFolder + L"\\manager-1.0.7z";
    for (int i = 0; i < 200 && (fileSize(package) == (DWORD)-1 || fileSize(package) < 4096); i++)
        Sleep(20);
    pressButton(view.dialog, IDCANCEL);
    EXPECT_EQ(0u, waitForExit(first, patience));
    DWORD full = fileSize(packages + L"\\manager-1.0.7z");
    DWORD saved = fileSize(package);
    EXPECT_GT(saved, 0u);
    EXPECT_LT(saved, full);
    EXPECT_EQ(544u, fileSize(package + L".part"));
    EXPECT_TRUE(setupRuns().empty());

    serve(L"manager-1.0.7z");
    RunView second = watch(start());
    EXPECT_EQ(0u, second.exitCode);
    EXPECT_EQ(full, fileSize(package));
    EXPECT_EQ(1u, setupRuns().size());
    expectAddonRequestOnly(L"window hidden");

    // The manager is removed again; the package and decoder are complete, so
    // neither file nor its state is written again. (What the server sends is
    // no measure: the system's HTTP client may drain an unread body itself.)
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, managerKey);
    FILETIME packageBefore = lastWrite(package), packageStateBefore = lastWrite(package + L".part");
    FILETIME decoderBefore = lastWrite(workFolder + L"\\7zDecoder.dll.part");
    Sleep(50);
    RunView third = watch(start());
    EXPECT_EQ(0u, third.exitCode);
    FILETIME packageAfter = lastWrite(package), packageStateAfter = lastWrite(package + L".part");
    FILETIME decoderAfter = lastWrite(workFolder + L"\\7zDecoder.dll.part");
    EXPECT_EQ(0, CompareFileTime(&packageBefore, &packageAfter));
    EXPECT_EQ(0, CompareFileTime(&packageStateBefore, &packageStateAfter));
    EXPECT_EQ(0, CompareFileTime(&decoderBefore, &decoderAfter));
    EXPECT_EQ(2u, setupRuns().size());
}

TEST_F(Pipeline, ProxyCredentialsReachTheManagerBeforeTheAddonRequest)
{
    HKEY settings;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER,
                                             L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings", 0,
                                             NULL, 0, KEY_ALL_ACCESS, NULL, &settings, NULL));
    DWORD enable = 1;
    const wchar_t proxy[] = L"127.0.0.1:8870";
    RegSetValueExW(settings, L"ProxyEnable", 0, REG_DWORD, (const BYTE*)&enable, sizeof(enable));
    RegSetValueExW(settings, L"ProxyServer", 0, REG_SZ, (const BYTE*)proxy, sizeof(proxy));
    proxyUser = "proxy user";
    proxyPassword = "pa ss\"word";
    requireProxyCredentials(server, proxyUser, proxyPassword);

    RunView view = watch(start());

    RegDeleteValueW(settings, L"ProxyEnable");
    RegDeleteValueW(settings, L"ProxyServer");
    RegCloseKey(settings);
    EXPECT_EQ(0u, view.exitCode);
    EXPECT_GE(view.credentialDialogs, 1);
    std::vector<std::wstring> requests = managerRequests(2);
    ASSERT_EQ(2u, requests.size());
    std::vector<std::wstring> configure = splitCommandLine(requests[0].substr(requests[0].find(L'\t') + 1));
    ASSERT_EQ(2u, configure.size()) << requests[0].c_str();
    EXPECT_EQ(L"--configureProxy:proxy user:pa ss\"word", configure[1]);
    std::vector<std::wstring> addon = splitCommandLine(requests[1].substr(requests[1].find(L'\t') + 1));
    ASSERT_EQ(2u, addon.size());
    EXPECT_EQ(addonRequest, addon[1]);
}

TEST_F(Pipeline, UserWithoutAdministratorRightsIsWarnedAndNothingElseHappens)
{
    SetEnvironmentVariableW(L"PMTEST_NOT_ADMIN", L"1");
    StartedProgram program = start();
    RunView view = watch(program);
    EXPECT_EQ(0u, view.exitCode);
    ASSERT_EQ(1u, view.boxes.size());
    EXPECT_EQ(std::wstring(caption) +
                  L": You do not have sufficient privileges to complete this installation. Log on as administrator "
                  L"and then try again.",
              view.boxes[0]);
    EXPECT_EQ(1, countExplorersStartedBy(program.id));
    EXPECT_TRUE(requestedPaths().empty());
    EXPECT_TRUE(setupRuns().empty());
    EXPECT_TRUE(managerRequests().empty());
}

}  // namespace
