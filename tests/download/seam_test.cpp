// What the test system's HTTP client never does: agree to move the read
// position, or hand out a body in pieces. This program links its own
// moveReadPosition and readResponse in place of the shipped ones.
#include <string.h>

#include "download_test_support.h"
#include "download/http_requests.h"
#include "download/read_position.h"
#include "download/resumable_download.h"

namespace {

enum SeamAnswer {
    SEAM_AGREES,        // skips offset bytes of the body and answers offset
    SEAM_ANSWERS_ZERO,  // answers 0 without moving, as some clients do
};

SeamAnswer seamAnswer = SEAM_AGREES;
std::vector<DWORD> seamOffsets;
DWORD readPieceLimit;   // 0: reads as asked
std::vector<DWORD> readSizes;

}  // namespace

DWORD readResponse(HINTERNET request, void* buffer, DWORD size, DWORD* count)
{
    if (!request)
        return 0;
    readSizes.push_back(size);
    DWORD asked = readPieceLimit && size > readPieceLimit ? readPieceLimit : size;
    return InternetReadFile(request, buffer, asked, count) ? 0 : GetLastError();
}

DWORD moveReadPosition(HINTERNET request, DWORD offset)
{
    seamOffsets.push_back(offset);
    if (seamAnswer == SEAM_ANSWERS_ZERO)
        return 0;
    char skipped[4096];
    for (DWORD left = offset; left > 0;) {
        DWORD count = 0;
        if (!InternetReadFile(request, skipped, left < sizeof(skipped) ? left : (DWORD)sizeof(skipped), &count) || count == 0)
            return INVALID_SET_FILE_POINTER;
        left -= count;
    }
    return offset;
}

namespace {

const uint32_t bodyLength = 4u << 20;
const uint32_t pauseAfter = 1u << 20;

class ResumeSeam : public DownloadTest {
protected:
    void SetUp() override
    {
        DownloadTest::SetUp();
        readPieceLimit = 0;
        seamAnswer = SEAM_AGREES;
        seamOffsets.clear();
        target = path(L"pkg.exe");
        ASSERT_EQ(downloadStoppedMidway("/pkg.exe", target, bodyLength, pauseAfter), 0);
        saved = readStateFile(target + L".part").bytesWritten;
        ASSERT_GE(saved, pauseAfter);
        ASSERT_LT(saved, bodyLength);
        ASSERT_TRUE(fileMatchesTestBody(target, saved));
        probe->positions.clear();
    }
    std::wstring target;
    uint32_t saved = 0;
};

TEST_F(ResumeSeam, AnAgreeingClientContinuesAtTheSavedCount)
{
    ASSERT_EQ(downloadFile(client, url("/pkg.exe").c_str(), target.c_str()), 1);

    ASSERT_EQ(seamOffsets.size(), 1u);
    EXPECT_EQ(seamOffsets[0], saved);
    EXPECT_TRUE(fileMatchesTestBody(target, bodyLength));
    EXPECT_EQ(readStateFile(target + L".part").bytesWritten, bodyLength);
    ASSERT_FALSE(probe->positions.empty());
    EXPECT_GE(probe->positions.front(), (int)((uint64_t)saved * 100 / bodyLength));  // no fresh start
}

TEST_F(ResumeSeam, AnswerOtherThanTheOffsetIsARefusal)
{
    seamAnswer = SEAM_ANSWERS_ZERO;

    ASSERT_EQ(downloadFile(client, url("/pkg.exe").c_str(), target.c_str()), 1);

    ASSERT_EQ(seamOffsets.size(), 1u);
    EXPECT_TRUE(fileMatchesTestBody(target, bodyLength));
    ASSERT_FALSE(probe->positions.empty());
    EXPECT_EQ(probe->positions.front(), 0);  // saved again from the first byte
}

TEST_F(ResumeSeam, ATargetShorterThanTheSavedCountStartsAgain)
{
    HANDLE file = CreateFileW(target.c_str(), GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    SetFilePointer(file, (LONG)(saved / 2), NULL, FILE_BEGIN);
    SetEndOfFile(file);
    CloseHandle(file);

    ASSERT_EQ(downloadFile(client, url("/pkg.exe").c_str(), target.c_str()), 1);

    EXPECT_TRUE(seamOffsets.empty());
    EXPECT_TRUE(fileMatchesTestBody(target, bodyLength));
}

class ReadsInPieces : public DownloadTest {
protected:
    void SetUp() override
    {
        DownloadTest::SetUp();
        readPieceLimit = 7;
        readSizes.clear();
    }
    void TearDown() override
    {
        readPieceLimit = 0;
        DownloadTest::TearDown();
    }
};

TEST_F(ReadsInPieces, FetchTextGathersTheWholeTextAndStopsAtTheBufferEnd)
{
    for (uint32_t length : {300u, 2000u}) {
        TestResponse response;
        response.body = std::string(length, 'x');
        setRoute(server, "/q", response);
        char buffer[FETCH_TEXT_CAPACITY + 1];
        memset(buffer, 0, FETCH_TEXT_CAPACITY);
        buffer[FETCH_TEXT_CAPACITY] = 0x5A;

        ASSERT_EQ(fetchText(client, url("/q").c_str(), buffer), 1);

        uint32_t kept = length < FETCH_TEXT_CAPACITY ? length : FETCH_TEXT_CAPACITY - 1;
        EXPECT_EQ(std::string(buffer), std::string(kept, 'x'));
        EXPECT_EQ(buffer[FETCH_TEXT_CAPACITY], 0x5A);
    }
    // Every read asked only for the room left before the terminating zero.
    for (DWORD size : readSizes)
        EXPECT_LE(size, (DWORD)FETCH_TEXT_CAPACITY - 1);
}

TEST_F(ReadsInPieces, DownloadFileSavesTheWholeBody)
{
    TestResponse response;
    response.generatedLength = 50000;
    setRoute(server, "/pkg.exe", response);
    std::wstring target = path(L"pkg.exe");

    ASSERT_EQ(downloadFile(client, url("/pkg.exe").c_str(), target.c_str()), 1);

    EXPECT_TRUE(fileMatchesTestBody(target, 50000));
    EXPECT_EQ(readStateFile(target + L".part").bytesWritten, 50000u);
}

}  // namespace
