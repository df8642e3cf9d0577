// openUrl, the header queries, readResponse and fetchText.
#include <string.h>

#include "download_test_support.h"
#include "download/http_requests.h"
#include "download/package_server.h"

namespace {

struct FetchCase {
    const char* name;
    uint32_t bodyLength;
    uint32_t chunkSize;      // bytes per send
    uint32_t chunkDelayMs;   // pause after each send
    uint32_t expectedLength;
};

void PrintTo(const FetchCase& c, std::ostream* out) { *out << c.name; }

const FetchCase fetchCases[] = {
    {"HundredBytes", 100, 65536, 0, 100},
    {"EmptyBody", 0, 65536, 0, 0},
    {"BodyOfExactlyTheBufferSize", 512, 65536, 0, 511},
    {"BodyOverTheBufferSize", 2000, 65536, 0, 511},
    {"BodyArrivingSlowlyInPieces", 300, 40, 30, 300},
};

class FetchText : public DownloadTest, public ::testing::WithParamInterface<FetchCase> {};

TEST_P(FetchText, ReadsTheBodyAndEndsItInsideTheBuffer)
{
    const FetchCase& c = GetParam();
    TestResponse response;
    response.body = makeTestBody(c.bodyLength);
    for (char& byte : response.body)
        byte = (char)('a' + (unsigned char)byte % 26);  // a text without zero bytes
    response.chunkSize = c.chunkSize;
    response.chunkDelayMs = c.chunkDelayMs;
    setRoute(server, "/get_highest_version.php", response);
    // The caller's 512 bytes, followed by bytes that must never be touched.
    char buffer[FETCH_TEXT_CAPACITY + 64];
    memset(buffer, 0, FETCH_TEXT_CAPACITY);
    memset(buffer + FETCH_TEXT_CAPACITY, 0x5A, 64);

    ASSERT_EQ(fetchText(client, url("/get_highest_version.php").c_str(), buffer), 1);

    EXPECT_EQ(strlen(buffer), c.expectedLength);
    EXPECT_EQ(std::string(buffer, c.expectedLength), response.body.substr(0, c.expectedLength));
    for (int i = 0; i < 64; ++i)
        ASSERT_EQ(buffer[FETCH_TEXT_CAPACITY + i], 0x5A);
}

INSTANTIATE_TEST_SUITE_P(Cases, FetchText, ::testing::ValuesIn(fetchCases),
                         [](const ::testing::TestParamInfo<FetchCase>& info) { return std::string(info.param.name); });

struct FetchFailureCase {
    const char* name;
    int status;
    bool reset;
    const wchar_t* expectedError;
};

void PrintTo(const FetchFailureCase& c, std::ostream* out) { *out << c.name; }

const FetchFailureCase fetchFailureCases[] = {
    {"NotFound", 404, false, L"Can't send a HTTP request"},
    {"ServerError", 500, false, L"Can't send a HTTP request"},
    {"ResetMidBody", 200, true, L"Download error"},
};

class FetchTextFailure : public DownloadTest, public ::testing::WithParamInterface<FetchFailureCase> {};

TEST_P(FetchTextFailure, SetsLastError)
{
    const FetchFailureCase& c = GetParam();
    TestResponse response;
    response.status = c.status;
    response.body = std::string(300, 'x');
    if (c.reset) {
        response.endAfter = 10;
        response.resetAtEnd = true;
    }
    setRoute(server, "/q", response);
    char buffer[FETCH_TEXT_CAPACITY] = {};

    EXPECT_EQ(fetchText(client, url("/q").c_str(), buffer), 0);

    EXPECT_STREQ(client->lastError, c.expectedError);
    EXPECT_LT(strlen(buffer), (size_t)FETCH_TEXT_CAPACITY);
}

INSTANTIATE_TEST_SUITE_P(Cases, FetchTextFailure, ::testing::ValuesIn(fetchFailureCases),
                         [](const ::testing::TestParamInfo<FetchFailureCase>& info) { return std::string(info.param.name); });

TEST_F(DownloadTest, FetchTextOfAnUnreachableServerCantSend)
{
    char buffer[FETCH_TEXT_CAPACITY] = {};
    std::wstring address = url("/q");
    stopTestHttpServer(server);
    server = nullptr;

    EXPECT_EQ(fetchText(client, address.c_str(), buffer), 0);
    EXPECT_STREQ(client->lastError, L"Can't send a HTTP request");
}

TEST_F(DownloadTest, OpenUrlSendsAcceptAndAcceptsNotModified)
{
    TestResponse notModified;
    notModified.status = 304;
    setRoute(server, "/a", notModified);

    HINTERNET request = openUrl(client->internetHandle, url("/a").c_str(), probe->window, NULL);

    ASSERT_NE(request, nullptr);
    EXPECT_EQ(queryStatusCode(request), 304u);
    closeRequest(request);
    std::vector<RecordedRequest> requests = recordedRequests(server);
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].requestLine, "GET /a HTTP/1.1");
    EXPECT_EQ(requestHeader(requests[0], "Accept"), "*/*");
    EXPECT_EQ(requestHeader(requests[0], "User-Agent"), "Zemrik Web-Installer");
}

TEST_F(DownloadTest, HeaderQueriesReadPresentHeadersAndGiveZeroForMissingOnes)
{
    TestResponse with;
    with.body = std::string(1234, 'x');
    TestResponse without;
    without.body = "x";
    without.sendContentLength = false;
    without.sendLastModified = false;
    setRoute(server, "/with", with);
    setRoute(server, "/without", without);
    SYSTEMTIME zero = {};

    HINTERNET request = openUrl(client->internetHandle, url("/with").c_str(), probe->window, NULL);
    ASSERT_NE(request, nullptr);
    EXPECT_EQ(queryStatusCode(request), 200u);
    EXPECT_EQ(queryContentLength(request), 1234u);
    SYSTEMTIME time = queryLastModified(request);
    SYSTEMTIME expected = defaultLastModifiedTime();
    EXPECT_EQ(memcmp(&time, &expected, sizeof(time)), 0);
    closeRequest(request);

    request = openUrl(client->internetHandle, url("/without").c_str(), probe->window, NULL);
    ASSERT_NE(request, nullptr);
    EXPECT_EQ(queryContentLength(request), 0u);
    time = queryLastModified(request);
    EXPECT_EQ(memcmp(&time, &zero, sizeof(time)), 0);
    closeRequest(request);
}

TEST(HttpRequestsWithoutRequest, NullHandleGivesZerosAndReadsNothing)
{
    SYSTEMTIME zero = {};
    SYSTEMTIME time = queryLastModified(NULL);
    EXPECT_EQ(memcmp(&time, &zero, sizeof(time)), 0);
    EXPECT_EQ(queryStatusCode(NULL), 0u);
    EXPECT_EQ(queryContentLength(NULL), 0u);
    char buffer[4];
    DWORD count = 77;
    EXPECT_EQ(readResponse(NULL, buffer, sizeof(buffer), &count), 0u);
    EXPECT_EQ(count, 77u);
    wchar_t name[260] = L"kept";
    EXPECT_EQ(queryProxyUserName(NULL, name), 0);
    EXPECT_EQ(queryProxyPassword(NULL, name), 0);
    EXPECT_STREQ(name, L"kept");
}

TEST(PackageServer, UrlsJoinTheBuildTimeAddressAndTheFixedPaths)
{
    wchar_t url[PACKAGE_SERVER_URL_CAPACITY];
    ASSERT_EQ(makeUpdateQueryUrl(url), 1);
    EXPECT_EQ(std::wstring(url), std::wstring(PACKAGE_SERVER_ADDRESS) + L"/pellucast_manager/packages/manager/get_highest_version.php");
    ASSERT_EQ(makePackageUrl(L"manager-2.0.exe", url), 1);
    EXPECT_EQ(std::wstring(url), std::wstring(PACKAGE_SERVER_ADDRESS) + L"/pellucast_manager/packages/manager/manager-2.0.exe");
    ASSERT_EQ(makeDecoderUrl(url), 1);
    EXPECT_EQ(std::wstring(url), std::wstring(PACKAGE_SERVER_ADDRESS) + L"/pellucast_manager/packages/7zDecoder.dll");
}

TEST(PackageServer, AUrlThatDoesNotFitIsRefusedNotCut)
{
    wchar_t url[PACKAGE_SERVER_URL_CAPACITY];
    std::wstring longName(300, L'n');
    EXPECT_EQ(makePackageUrl(longName.c_str(), url), 0);
    EXPECT_EQ(url[0], 0);
}

}  // namespace
