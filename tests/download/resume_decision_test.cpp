// decideResume, transferBody and the state file's record, driven directly.
#include <string.h>

#include "download_test_support.h"
#include "download/resumable_download.h"

namespace {

const wchar_t storedUrl[] = L"http://127.0.0.1:8870/pellucast_manager/packages/manager/pkg.exe";

SYSTEMTIME sampleTime()
{
    SYSTEMTIME time = {2023, 5, 2, 16, 10, 20, 30, 0};
    return time;
}

struct DecisionCase {
    const char* name;
    const wchar_t* headerUrl;      // stored url
    DWORD headerLength;            // stored expectedLength
    DWORD headerBytesWritten;
    WORD headerSecond;             // stored lastModified.wSecond (the response has 30)
    const wchar_t* responseUrl;
    DWORD responseLength;
    bool targetOpen;
    DWORD targetSize;
    ResumeMode expected;
};

void PrintTo(const DecisionCase& c, std::ostream* out) { *out << c.name; }

const DecisionCase decisionCases[] = {
    {"Resume", storedUrl, 1000, 400, 30, storedUrl, 1000, true, 400, RESUME_MODE_RESUME},
    {"ResumeCutsBytesBeyondSavedCount", storedUrl, 1000, 400, 30, storedUrl, 1000, true, 600, RESUME_MODE_RESUME},
    {"Complete", storedUrl, 1000, 1000, 30, storedUrl, 1000, true, 1000, RESUME_MODE_COMPLETE},
    {"NoStoredUrl", L"", 1000, 400, 30, storedUrl, 1000, true, 400, RESUME_MODE_RESTART},
    {"NoContentLength", storedUrl, 0, 400, 30, storedUrl, 0, true, 400, RESUME_MODE_RESTART},
    {"OtherLastModified", storedUrl, 1000, 400, 31, storedUrl, 1000, true, 400, RESUME_MODE_RESTART},
    {"UrlDiffersInCase", L"http://127.0.0.1:8870/pellucast_manager/packages/manager/PKG.exe", 1000, 400, 30, storedUrl, 1000, true, 400, RESUME_MODE_RESTART},
    {"OtherLength", storedUrl, 999, 400, 30, storedUrl, 1000, true, 400, RESUME_MODE_RESTART},
    {"TargetNotOpen", storedUrl, 1000, 400, 30, storedUrl, 1000, false, 400, RESUME_MODE_RESTART},
    {"TargetShorterThanSavedCount", storedUrl, 1000, 400, 30, storedUrl, 1000, true, 399, RESUME_MODE_RESTART},
    {"SavedCountBeyondLength", storedUrl, 1000, 1001, 30, storedUrl, 1000, true, 1002, RESUME_MODE_RESTART},
};

class ResumeDecision : public ::testing::TestWithParam<DecisionCase> {
protected:
    void SetUp() override { folder = makeScratchFolder(); }
    void TearDown() override
    {
        closeDownloadState(&state);
        removeScratchFolder(folder);
    }
    std::wstring folder;
    DownloadState state = {};
};

TEST_P(ResumeDecision, ChoosesModeAndResetsHeaderOnRestart)
{
    const DecisionCase& c = GetParam();
    std::wstring target = folder + L"\\target.bin";
    writeFileBytes(target, makeTestBody(c.targetSize));
    ASSERT_EQ(openDownloadState(&state, target.c_str()), 0u);
    if (!c.targetOpen) {
        CloseHandle(state.targetFile);
        state.targetFile = INVALID_HANDLE_VALUE;
    }
    ResumeHeader stored = {};
    stored.lastModified = sampleTime();
    stored.lastModified.wSecond = c.headerSecond;
    stored.expectedLength = c.headerLength;
    stored.bytesWritten = c.headerBytesWritten;
    wcsncpy(stored.url, c.headerUrl, RESUME_URL_CAPACITY - 1);
    state.header = stored;

    decideResume(&state, c.responseUrl, c.responseLength, sampleTime());

    EXPECT_EQ(state.mode, c.expected);
    if (c.expected == RESUME_MODE_RESTART) {
        SYSTEMTIME expectedTime = sampleTime();
        EXPECT_EQ(memcmp(&state.header.lastModified, &expectedTime, sizeof(SYSTEMTIME)), 0);
        EXPECT_EQ(state.header.expectedLength, c.responseLength);
        EXPECT_EQ(state.header.bytesWritten, 0u);
        EXPECT_STREQ(state.header.url, c.responseUrl);
    } else {
        EXPECT_EQ(memcmp(&state.header, &stored, sizeof(stored)), 0);
    }
    if (c.expected == RESUME_MODE_RESUME) {
        EXPECT_EQ(SetFilePointer(state.targetFile, 0, NULL, FILE_CURRENT), c.headerBytesWritten);
        EXPECT_EQ(GetFileSize(state.targetFile, NULL), c.headerBytesWritten);
    }
    if (c.expected == RESUME_MODE_COMPLETE) {
        EXPECT_EQ(GetFileSize(state.targetFile, NULL), c.targetSize);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, ResumeDecision, ::testing::ValuesIn(decisionCases),
                         [](const ::testing::TestParamInfo<DecisionCase>& info) { return std::string(info.param.name); });

TEST(StateFileLayout, OffsetsAndSizeMatchTheFileFormat)
{
    ResumeHeader header = {};
    header.lastModified = sampleTime();
    header.expectedLength = 0x01020304;
    header.bytesWritten = 0x0A0B0C0D;
    wcscpy(header.url, L"ab");
    const unsigned char* bytes = (const unsigned char*)&header;
    ASSERT_EQ(sizeof(header), 544u);
    EXPECT_EQ(bytes[0] | bytes[1] << 8, 2023);         // year
    EXPECT_EQ(bytes[12] | bytes[13] << 8, 30);         // second
    const unsigned char length[] = {0x04, 0x03, 0x02, 0x01, 0x0D, 0x0C, 0x0B, 0x0A};
    EXPECT_EQ(memcmp(bytes + 16, length, sizeof(length)), 0);
    const unsigned char url[] = {'a', 0, 'b', 0, 0, 0};
    EXPECT_EQ(memcmp(bytes + 24, url, sizeof(url)), 0);
}

TEST(OpenDownloadState, ReadsAShortStateFileAsFarAsItGoes)
{
    std::wstring folder = makeScratchFolder();
    std::wstring target = folder + L"\\t.bin";
    std::string partial(20, '\0');
    partial[16] = 0x10;  // expectedLength 16, nothing after it
    writeFileBytes(target + L".part", partial);
    DownloadState state;
    ASSERT_EQ(openDownloadState(&state, target.c_str()), 0u);
    EXPECT_EQ(state.header.expectedLength, 16u);
    EXPECT_EQ(state.header.bytesWritten, 0u);
    EXPECT_EQ(state.header.url[0], 0);
    EXPECT_NE(state.stateFile, INVALID_HANDLE_VALUE);
    closeDownloadState(&state);
    EXPECT_EQ(state.targetFile, INVALID_HANDLE_VALUE);
    EXPECT_EQ(state.stateFile, INVALID_HANDLE_VALUE);
    removeScratchFolder(folder);
}

}  // namespace
