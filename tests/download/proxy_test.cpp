// A proxy that asks for credentials: the system's dialog over the progress
// window, the resend, and what the client keeps of the typed credentials.
#include <thread>

#include "download_test_support.h"
#include "download/http_requests.h"
#include "download/resumable_download.h"

namespace {

const wchar_t internetSettingsKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";

struct DialogAnswer {
    const wchar_t* user;
    const wchar_t* password;
    int button;   // IDOK or IDCANCEL
};

// Answers the credentials dialogs as they appear, from another thread, while
// the test's thread runs the dialog's modal loop inside the request.
struct DialogWatcher {
    std::vector<DialogAnswer> answers;
    std::vector<HWND> owners;   // the owner of each dialog answered
    std::thread thread;

    void start()
    {
        thread = std::thread([this] {
            HWND previous = NULL;
            for (const DialogAnswer& answer : answers) {
                HWND dialog = NULL;
                for (int i = 0; i < 2000 && !dialog; ++i) {
                    HWND found = FindWindowW(NULL, L"Enter Network Password");
                    if (found && found != previous && IsWindowVisible(found))
                        dialog = found;
                    else
                        Sleep(10);
                }
                if (!dialog)
                    return;
                owners.push_back(GetWindow(dialog, GW_OWNER));
                SetDlgItemTextW(dialog, 1027, answer.user);
                SetDlgItemTextW(dialog, 1028, answer.password);
                PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(answer.button, BN_CLICKED), (LPARAM)GetDlgItem(dialog, answer.button));
                for (int i = 0; i < 2000 && IsWindow(dialog); ++i)
                    Sleep(10);
                previous = dialog;
            }
        });
    }
};

// The system's proxy settings are read when the internet handle is opened, so
// the client is made again once they point at the test server.
class ProxyTest : public DownloadTest {
protected:
    void SetUp() override
    {
        DownloadTest::SetUp();
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, internetSettingsKey, 0, NULL, 0, KEY_ALL_ACCESS, NULL, &settings, NULL), ERROR_SUCCESS);
        DWORD enable = 1;
        std::wstring proxy = L"127.0.0.1:" + std::to_wstring(testServerPort(server));
        RegSetValueExW(settings, L"ProxyEnable", 0, REG_DWORD, (const BYTE*)&enable, sizeof(enable));
        RegSetValueExW(settings, L"ProxyServer", 0, REG_SZ, (const BYTE*)proxy.c_str(), (DWORD)((proxy.size() + 1) * sizeof(wchar_t)));
        destroyTestClient(client);
        client = createDownloadClient(probe->window);
        ASSERT_NE(client, nullptr);
    }
    void TearDown() override
    {
        if (watcher.thread.joinable())
            watcher.thread.join();
        if (settings) {
            RegDeleteValueW(settings, L"ProxyEnable");
            RegDeleteValueW(settings, L"ProxyServer");
            RegCloseKey(settings);
        }
        DownloadTest::TearDown();
    }
    HKEY settings = NULL;
    DialogWatcher watcher;
};

TEST_F(ProxyTest, ConfirmedCredentialsAreSentAgainAndKeptByTheClient)
{
    requireProxyCredentials(server, "alice", "s3cret word");
    TestResponse body;
    body.generatedLength = 5000;
    setRoute(server, "/pkg.exe", body);
    watcher.answers = {{L"alice", L"s3cret word", IDOK}};
    watcher.start();
    std::wstring target = path(L"pkg.exe");

    ASSERT_EQ(downloadFile(client, url("/pkg.exe").c_str(), target.c_str()), 1);
    watcher.thread.join();

    EXPECT_TRUE(fileMatchesTestBody(target, 5000));
    ASSERT_EQ(watcher.owners.size(), 1u);
    EXPECT_EQ(watcher.owners[0], probe->host);
    EXPECT_STREQ(client->proxyUserName, L"alice");
    EXPECT_STREQ(client->proxyPassword, L"s3cret word");
    std::vector<RecordedRequest> requests = recordedRequests(server);
    ASSERT_GE(requests.size(), 2u);
    std::wstring address = url("/pkg.exe");
    EXPECT_EQ(requests.front().requestLine, "GET " + std::string(address.begin(), address.end()) + " HTTP/1.1");
    EXPECT_EQ(requests.front().status, 407);
    EXPECT_EQ(requestHeader(requests.back(), "Proxy-Authorization"), basicCredentials("alice", "s3cret word"));
    EXPECT_EQ(requests.back().status, 200);

    // A later request that needs no credentials leaves what the client holds.
    requireProxyCredentials(server, NULL, NULL);
    wcscpy(client->proxyUserName, L"kept user");
    wcscpy(client->proxyPassword, L"kept password");
    TestResponse text;
    text.body = "a\nb\nname";
    setRoute(server, "/q", text);
    char buffer[FETCH_TEXT_CAPACITY] = {};
    EXPECT_EQ(fetchText(client, url("/q").c_str(), buffer), 1);
    EXPECT_STREQ(buffer, "a\nb\nname");
    EXPECT_STREQ(client->proxyUserName, L"kept user");
    EXPECT_STREQ(client->proxyPassword, L"kept password");
}

TEST_F(ProxyTest, ASecondRefusalShowsTheDialogAgainAndCancelFails)
{
    requireProxyCredentials(server, "alice", "s3cret");
    TestResponse text;
    text.body = "a\nb\nname";
    setRoute(server, "/q", text);
    watcher.answers = {{L"alice", L"wrong", IDOK}, {L"", L"", IDCANCEL}};
    watcher.start();
    char buffer[FETCH_TEXT_CAPACITY] = {};

    EXPECT_EQ(fetchText(client, url("/q").c_str(), buffer), 0);
    watcher.thread.join();

    EXPECT_STREQ(client->lastError, L"Can't send a HTTP request");
    ASSERT_EQ(watcher.owners.size(), 2u);
    EXPECT_EQ(watcher.owners[0], probe->host);
    EXPECT_EQ(watcher.owners[1], probe->host);
    EXPECT_STREQ(client->proxyUserName, L"");
    EXPECT_STREQ(client->proxyPassword, L"");
    bool wrongOneSent = false;
    for (const RecordedRequest& request : recordedRequests(server))
        wrongOneSent = wrongOneSent || (requestHeader(request, "Proxy-Authorization") == basicCredentials("alice", "wrong") && request.status == 407);
    EXPECT_TRUE(wrongOneSent);
}

}  // namespace
