// downloadFile against the loopback server: the state file, skip, restart,
// stop, progress and failures.
#include <string.h>

#include <thread>

#include "download_test_support.h"
#include "download/http_requests.h"
#include "download/resumable_download.h"

namespace {

TestResponse patternResponse(uint32_t length)
{
    TestResponse response;
    response.generatedLength = length;
    return response;
}

void expectSameTime(const SYSTEMTIME& actual, const SYSTEMTIME& expected)
{
    EXPECT_EQ(memcmp(&actual, &expected, sizeof(SYSTEMTIME)), 0)
        << actual.wYear << "-" << actual.wMonth << "-" << actual.wDay << " (" << actual.wDayOfWeek << ") "
        << actual.wHour << ":" << actual.wMinute << ":" << actual.wSecond << "." << actual.wMilliseconds;
}

TEST_F(DownloadTest, FirstDownloadSavesTheBodyAndRecordsTheResponse)
{
    setRoute(server, "/pkg.exe", patternResponse(3000));
    std::wstring target = path(L"pkg.exe");

    ASSERT_EQ(downloadFile(client, url("/pkg.exe").c_str(), target.c_str()), 1);

    EXPECT_TRUE(fileMatchesTestBody(target, 3000));
    StateFileFields state = readStateFile(target + L".part");
    EXPECT_EQ(state.size, 544);
    expectSameTime(state.lastModified, defaultLastModifiedTime());
    EXPECT_EQ(state.expectedLength, 3000u);
    EXPECT_EQ(state.bytesWritten, 3000u);
    EXPECT_EQ(state.url, url("/pkg.exe"));
    ASSERT_FALSE(probe->positions.empty());
    EXPECT_EQ(probe->positions.back(), 100);
    std::vector<RecordedRequest> requests = recordedRequests(server);
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "GET");
    EXPECT_EQ(requestHeader(requests[0], "Accept"), "*/*");
}

TEST_F(DownloadTest, UnchangedAnswerReadsNothingAndLeavesTheTargetAlone)
{
    setRoute(server, "/pkg.exe", patternResponse(300000));
    std::wstring target = path(L"pkg.exe");
    ASSERT_EQ(downloadFile(client, url("/pkg.exe").c_str(), target.c_str()), 1);
    ageFile(target);
    ageFile(target + L".part");
    probe->positions.clear();

    EXPECT_EQ(downloadFile(client, url("/pkg.exe").c_str(), target.c_str()), 1);

    EXPECT_EQ(recordedRequests(server).size(), 2u);
    EXPECT_TRUE(fileIsAged(target));
    EXPECT_TRUE(fileIsAged(target + L".part"));  // no chunk, so no header rewrite
    EXPECT_TRUE(probe->positions.empty());
    EXPECT_TRUE(fileMatchesTestBody(target, 300000));
}

struct RestartCase {
    const char* name;
    const char* secondPath;        // the first download always asks for /pkg.exe
    const char* secondLastModified;
    uint32_t secondLength;
    bool emptyStateFile;           // the state file is cut to 0 bytes between the calls
    bool contentLength;            // both answers carry Content-Length
};

void PrintTo(const RestartCase& c, std::ostream* out) { *out << c.name; }

const RestartCase restartCases[] = {
    {"ChangedLastModified", "/pkg.exe", "Wed, 16 Nov 1994 08:12:31 GMT", 3000, false, true},
    {"ChangedLength", "/pkg.exe", "", 2500, false, true},
    {"UrlDiffersOnlyInCase", "/PKG.exe", "", 3000, false, true},
    {"EmptyStateFile", "/pkg.exe", "", 3000, true, true},
    {"NoContentLength", "/pkg.exe", "", 3000, false, false},
};

class DownloadRestart : public DownloadTest, public ::testing::WithParamInterface<RestartCase> {};

TEST_P(DownloadRestart, SavesTheBodyAgainFromItsFirstByte)
{
    const RestartCase& c = GetParam();
    std::wstring target = path(L"pkg.exe");
    TestResponse first = patternResponse(3000);
    first.sendContentLength = c.contentLength;
    setRoute(server, "/pkg.exe", first);
    ASSERT_EQ(downloadFile(client, url("/pkg.exe").c_str(), target.c_str()), 1);
    if (c.emptyStateFile)
        writeFileBytes(target + L".part", "");
    ageFile(target);
    TestResponse second = patternResponse(c.secondLength);
    second.sendContentLength = c.contentLength;
    second.lastModified = c.secondLastModified;
    setRoute(server, c.secondPath, second);
    setProgress(probe->window, -1);
    probe->positions.clear();
    probe->texts.clear();

    ASSERT_EQ(downloadFile(client, url(c.secondPath).c_str(), target.c_str()), 1);

    EXPECT_FALSE(fileIsAged(target));
    EXPECT_TRUE(fileMatchesTestBody(target, c.secondLength));
    StateFileFields state = readStateFile(target + L".part");
    EXPECT_EQ(state.url, url(c.secondPath));
    EXPECT_EQ(state.expectedLength, c.contentLength ? c.secondLength : 0u);
    EXPECT_EQ(state.bytesWritten, c.secondLength);
    if (c.secondLastModified[0]) {
        SYSTEMTIME changed = defaultLastModifiedTime();
        changed.wDay = 16;
        changed.wDayOfWeek = 3;
        expectSameTime(state.lastModified, changed);
    }
    if (c.contentLength) {
        ASSERT_FALSE(probe->positions.empty());
        EXPECT_EQ(probe->positions.front(), 1024 * 100 / (int)c.secondLength);
    } else {
        EXPECT_TRUE(probe->positions.empty());
        EXPECT_TRUE(probe->texts.empty());
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, DownloadRestart, ::testing::ValuesIn(restartCases),
                         [](const ::testing::TestParamInfo<RestartCase>& info) { return std::string(info.param.name); });

TEST_F(DownloadTest, StopBeforeTheFirstReadKeepsTheStateFileAndLastError)
{
    std::wstring target = path(L"pkg.exe");
    setRoute(server, "/pkg.exe", patternResponse(3000));
    ASSERT_EQ(downloadFile(client, url("/pkg.exe").c_str(), target.c_str()), 1);
    std::string header = readFileBytes(target + L".part");
    TestResponse changed = patternResponse(3000);
    changed.lastModified = "Wed, 16 Nov 1994 08:12:31 GMT";
    setRoute(server, "/pkg.exe", changed);
    wcscpy(client->lastError, L"an earlier failure");
    probe->positions.clear();
    SetEvent(client->stopEvent);

    EXPECT_EQ(downloadFile(client, url("/pkg.exe").c_str(), target.c_str()), 0);

    EXPECT_STREQ(client->lastError, L"an earlier failure");
    EXPECT_EQ(readFileBytes(target + L".part"), header);
    EXPECT_EQ(fileSizeOf(target), 0);  // a restart cuts the target before its first read
    EXPECT_TRUE(probe->positions.empty());
    EXPECT_EQ(WaitForSingleObject(client->stopEvent, 0), (DWORD)WAIT_TIMEOUT);  // the stop was consumed
}

TEST_F(DownloadTest, StopMidTransferKeepsTheSavedBytesAndTheNextCallFinishes)
{
    const uint32_t length = 4u << 20;
    std::wstring target = path(L"pkg.exe");
    wcscpy(client->lastError, L"an earlier failure");

    EXPECT_EQ(downloadStoppedMidway("/pkg.exe", target, length, 1u << 20), 0);

    EXPECT_STREQ(client->lastError, L"an earlier failure");
    StateFileFields state = readStateFile(target + L".part");
    EXPECT_GE(state.bytesWritten, 1u << 20);
    EXPECT_LT(state.bytesWritten, length);
    EXPECT_EQ(state.expectedLength, length);
    EXPECT_EQ(state.url, url("/pkg.exe"));
    EXPECT_TRUE(fileMatchesTestBody(target, state.bytesWritten));

    EXPECT_EQ(downloadFile(client, url("/pkg.exe").c_str(), target.c_str()), 1);
    EXPECT_TRUE(fileMatchesTestBody(target, length));
    EXPECT_EQ(readStateFile(target + L".part").bytesWritten, length);
}

TEST_F(DownloadTest, HundredMegabytesReportEveryPercentageOnceInOrder)
{
    const uint32_t length = 100u << 20;
    std::wstring target = path(L"big.bin");
    setRoute(server, "/big.bin", patternResponse(length));
    setProgress(probe->window, -1);
    probe->positions.clear();
    probe->texts.clear();

    ASSERT_EQ(downloadFile(client, url("/big.bin").c_str(), target.c_str()), 1);

    ASSERT_EQ(probe->positions.size(), 101u);
    ASSERT_EQ(probe->texts.size(), 101u);
    for (int value = 0; value <= 100; ++value) {
        EXPECT_EQ(probe->positions[value], value);
        EXPECT_EQ(probe->texts[value], std::to_wstring(value) + L"%");
    }
    EXPECT_TRUE(fileMatchesTestBody(target, length));
}

struct AnswerCase {
    const char* name;
    int status;
    int64_t endAfter;        // -1: the whole body
    bool reset;
    int expectedResult;
    const wchar_t* expectedError;   // null: lastError unchanged
    bool targetCreated;
};

void PrintTo(const AnswerCase& c, std::ostream* out) { *out << c.name; }

const AnswerCase answerCases[] = {
    {"NotModifiedIsAccepted", 304, -1, false, 1, nullptr, true},
    {"NotFound", 404, -1, false, 0, L"Can't send a HTTP request", false},
    {"ServerError", 500, -1, false, 0, L"Can't send a HTTP request", false},
    {"ResetMidBody", 200, 100000, true, 0, L"Download error", true},
    {"BodyShorterThanContentLength", 200, 100000, false, 0, L"Download error", true},
};

class DownloadAnswer : public DownloadTest, public ::testing::WithParamInterface<AnswerCase> {};

TEST_P(DownloadAnswer, EndsAsTheStatusAndBodyDemand)
{
    const AnswerCase& c = GetParam();
    TestResponse response = patternResponse(300000);
    response.status = c.status;
    response.endAfter = c.endAfter;
    response.resetAtEnd = c.reset;
    setRoute(server, "/pkg.exe", response);
    std::wstring target = path(L"pkg.exe");
    wcscpy(client->lastError, L"an earlier failure");

    EXPECT_EQ(downloadFile(client, url("/pkg.exe").c_str(), target.c_str()), c.expectedResult);

    EXPECT_STREQ(client->lastError, c.expectedError ? c.expectedError : L"an earlier failure");
    EXPECT_EQ(fileSizeOf(target) >= 0, c.targetCreated);
    if (c.endAfter >= 0) {
        // What arrived is kept and recorded, for a later run to resume or redo.
        StateFileFields state = readStateFile(target + L".part");
        EXPECT_LE(state.bytesWritten, (uint32_t)c.endAfter);
        EXPECT_EQ(fileSizeOf(target), (long long)state.bytesWritten);
        EXPECT_TRUE(fileMatchesTestBody(target, state.bytesWritten));
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, DownloadAnswer, ::testing::ValuesIn(answerCases),
                         [](const ::testing::TestParamInfo<AnswerCase>& info) { return std::string(info.param.name); });

TEST_F(DownloadTest, TargetNamingAFolderFailsAndClosesTheRequest)
{
    // Far more than the sockets' buffers hold: while the request stayed open,
    // nobody would read the body and the server would stay blocked sending it.
    HANDLE finished = CreateEventW(NULL, TRUE, FALSE, NULL);
    TestResponse response = patternResponse(16u << 20);
    response.finishedSignal = finished;
    setRoute(server, "/pkg.exe", response);

    EXPECT_EQ(downloadFile(client, url("/pkg.exe").c_str(), folder.c_str()), 0);

    EXPECT_STREQ(client->lastError, L"Can't open a file");
    EXPECT_EQ(WaitForSingleObject(finished, 20000), (DWORD)WAIT_OBJECT_0);
    EXPECT_EQ(recordedRequests(server).size(), 1u);
    CloseHandle(finished);
}

// The state file holds the URL in 260 characters and the state file's path
// (target + ".part") must fit 260: longer ones are refused, never cut short.
struct LimitCase {
    const char* name;
    size_t urlLength;
    size_t targetLength;
    const wchar_t* expectedError;  // null: success
};

void PrintTo(const LimitCase& c, std::ostream* out) { *out << c.name; }

const LimitCase limitCases[] = {
    {"LongestUrl", 259, 60, nullptr},
    {"UrlTooLong", 260, 60, L"Can't send a HTTP request"},
    {"LongestTargetPath", 60, 254, nullptr},
    {"TargetPathTooLong", 60, 255, L"Can't open a file"},
};

class DownloadLimits : public DownloadTest, public ::testing::WithParamInterface<LimitCase> {};

TEST_P(DownloadLimits, RefusesWhatDoesNotFitWholly)
{
    const LimitCase& c = GetParam();
    std::string serverPath = "/";
    serverPath.append(c.urlLength - url("/").size(), 'u');
    setRoute(server, serverPath.c_str(), patternResponse(100));
    std::wstring target = folder + L"\\";
    ASSERT_LT(target.size(), c.targetLength);
    target.append(c.targetLength - target.size(), L't');
    std::wstring address = url(serverPath.c_str());
    ASSERT_EQ(address.size(), c.urlLength);

    int result = downloadFile(client, address.c_str(), target.c_str());

    if (!c.expectedError) {
        EXPECT_EQ(result, 1);
        EXPECT_TRUE(fileMatchesTestBody(target, 100));
        EXPECT_EQ(readStateFile(target + L".part").url, address);
        return;
    }
    EXPECT_EQ(result, 0);
    EXPECT_STREQ(client->lastError, c.expectedError);
    EXPECT_EQ(fileSizeOf(target), -1);
    EXPECT_EQ(fileSizeOf(target.substr(0, 254)), -1);
    EXPECT_EQ(fileSizeOf(target.substr(0, 254) + L".part"), -1);
    if (c.urlLength >= 260) {
        EXPECT_TRUE(recordedRequests(server).empty());
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, DownloadLimits, ::testing::ValuesIn(limitCases),
                         [](const ::testing::TestParamInfo<LimitCase>& info) { return std::string(info.param.name); });

// A chunk that can't be written must neither count as saved nor end in success.
TEST_F(DownloadTest, AFailedWriteToTheTargetIsADownloadError)
{
    setRoute(server, "/pkg.exe", patternResponse(3000));
    std::wstring target = path(L"pkg.exe");
    HINTERNET request = openUrl(client->internetHandle, url("/pkg.exe").c_str(), probe->window, NULL);
    ASSERT_NE(request, nullptr);
    DownloadState state;
    ASSERT_EQ(openDownloadState(&state, target.c_str()), 0u);
    CloseHandle(state.targetFile);
    state.targetFile = CreateFileW(target.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
    decideResume(&state, url("/pkg.exe").c_str(), 3000, queryLastModified(request));

    EXPECT_EQ(transferBody(&state, client, request), 0);

    EXPECT_STREQ(client->lastError, L"Download error");
    EXPECT_EQ(state.header.bytesWritten, 0u);
    EXPECT_EQ(fileSizeOf(target + L".part"), 0);
    EXPECT_TRUE(probe->positions.empty());
    closeDownloadState(&state);
    closeRequest(request);
}

}  // namespace
