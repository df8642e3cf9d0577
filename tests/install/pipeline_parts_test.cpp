// The pipeline's parsers and builders: the update answer, the package name
// check, argument quoting and the registry reader.
#include <gtest/gtest.h>

#include <windows.h>
#include <shellapi.h>
#include <string>

#include "install/installation_pipeline.h"

namespace {

struct AnswerCase {
    const char* name;
    const char* answer;
    int valid;
    const wchar_t* packageName;
};

const AnswerCase answerCases[] = {
    {"three lines, no final break", "1.0\n2026-12-11\nmanager-1.0.7z", 1, L"manager-1.0.7z"},
    {"three lines, final break kept", "1.0\n2026-12-11\nmanager-1.0.7z\n", 1, L"manager-1.0.7z\n"},
    {"CR LF lines", "1.0\r\n2026-12-11\r\nmanager-1.0.7z\r\n", 1, L"manager-1.0.7z\r\n"},
    {"ends right after the second break", "1.0\n2026-12-11\n", 1, L""},
    {"empty first lines", "\n\nmanager.7z", 1, L"manager.7z"},
    {"more than three lines", "1\n2\nthree\nfour", 1, L"three\nfour"},
    {"one line feed", "1.0\nmanager.7z", 0, NULL},
    {"one line feed at the end", "1.0\n", 0, NULL},
    {"no line feed", "manager.7z", 0, NULL},
    {"empty", "", 0, NULL},
    {"the package server's no-package answer", "No package published", 0, NULL},
};

TEST(UpdateAnswer, ParsesTheThirdLine)
{
    for (const AnswerCase& c : answerCases) {
        SCOPED_TRACE(c.name);
        wchar_t name[PIPELINE_TEXT_CAPACITY];
        wmemset(name, L'#', PIPELINE_TEXT_CAPACITY);
        name[PIPELINE_TEXT_CAPACITY - 1] = 0;
        EXPECT_EQ(c.valid, parseVersionResponse(c.answer, name));
        if (c.valid)
            EXPECT_STREQ(c.packageName, name);
        else
            EXPECT_EQ(L'#', name[0]) << "an invalid answer wrote the buffer";
    }
}

TEST(UpdateAnswer, BytesAboveAsciiGoThroughTheAnsiCodePage)
{
    const char answer[] = "1\n2\npaket-\xE4\xF6\xFC.7z";
    wchar_t expected[32];
    MultiByteToWideChar(CP_ACP, 0, "paket-\xE4\xF6\xFC.7z", -1, expected, 32);
    wchar_t name[PIPELINE_TEXT_CAPACITY];
    EXPECT_EQ(1, parseVersionResponse(answer, name));
    EXPECT_STREQ(expected, name);
}

TEST(UpdateAnswer, NameLengthsAtAndBeyondTheBuffer)
{
    std::string fits = "1\n2\n" + std::string(259, 'n');
    wchar_t name[PIPELINE_TEXT_CAPACITY];
    EXPECT_EQ(1, parseVersionResponse(fits.c_str(), name));
    EXPECT_EQ(std::wstring(259, L'n'), name);

    // One more character can't be held: the name comes back empty, never cut.
    std::string tooLong = "1\n2\n" + std::string(260, 'n');
    EXPECT_EQ(1, parseVersionResponse(tooLong.c_str(), name));
    EXPECT_STREQ(L"", name);
    EXPECT_FALSE(isSafePackageName(name));
}

TEST(UpdateAnswer, AFullBufferEndsInsideIt)
{
    // What the download engine hands over for a body of 512 bytes or more.
    char answer[UPDATE_ANSWER_CAPACITY];
    memset(answer, 'x', sizeof(answer));
    answer[1] = '\n';
    answer[3] = '\n';
    answer[UPDATE_ANSWER_CAPACITY - 1] = 0;
    wchar_t name[PIPELINE_TEXT_CAPACITY];
    EXPECT_EQ(1, parseVersionResponse(answer, name));
    EXPECT_STREQ(L"", name) << "507 characters don't fit the name";
}

struct NameCase {
    const wchar_t* name;
    int safe;
};

TEST(PackageName, OnlyPlainFileNamesAreAccepted)
{
    const NameCase cases[] = {
        {L"manager-1.0.7z", 1},
        {L"manager 1.0 (x86).7z", 1},
        {L"..manager.7z", 1},
        {L"", 0},
        {L"..", 0},
        {L".", 0},
        {L"...", 0},
        {L"../manager.7z", 0},
        {L"..\\manager.7z", 0},
        {L"sub/manager.7z", 0},
        {L"C:manager.7z", 0},
        {L"manager.7z:stream", 0},
        {L"\\\\server\\share\\manager.7z", 0},
        {L"manager.7z\r\n", 0},
        {L"manager.7z\n", 0},
        {L"man\tager.7z", 0},
    };
    for (const NameCase& c : cases)
        EXPECT_EQ(c.safe, isSafePackageName(c.name)) << "name: [" << std::wstring(c.name).c_str() << "]";
}

TEST(ArgumentQuoting, EveryArgumentReadsBackWhole)
{
    const wchar_t* arguments[] = {
        L"--configureProxy:user:secret",
        L"--configureProxy:proxy user:pass word",
        L"--configureProxy:user:\"quoted\"",
        L"--configureProxy:user:back\\slash",
        L"--configureProxy:user:ends with\\",
        L"--configureProxy:user:ends\\\\",
        L"--configureProxy:us\\\"er:tab\there",
        L"",
    };
    for (const wchar_t* argument : arguments) {
        SCOPED_TRACE(std::string(argument, argument + lstrlenW(argument)));
        wchar_t commandLine[512] = L"program.exe ";
        ASSERT_TRUE(appendQuotedArgument(commandLine, 512, argument));
        int count = 0;
        LPWSTR* parsed = CommandLineToArgvW(commandLine, &count);
        ASSERT_EQ(2, count) << commandLine;
        EXPECT_STREQ(argument, parsed[1]);
        LocalFree(parsed);
    }
}

TEST(ArgumentQuoting, PlainTextIsLeftAsItIs)
{
    wchar_t commandLine[64] = L"";
    ASSERT_TRUE(appendQuotedArgument(commandLine, 64, L"--configureProxy:user:secret"));
    EXPECT_STREQ(L"--configureProxy:user:secret", commandLine);
}

TEST(ArgumentQuoting, TextThatDoesNotFitIsRefusedWhole)
{
    wchar_t commandLine[16] = L"";
    EXPECT_FALSE(appendQuotedArgument(commandLine, 16, L"a b c d e f g h i"));
    EXPECT_FALSE(appendQuotedArgument(commandLine, 16, L"0123456789abcdef"));
}

// A key of our own under HKEY_LOCAL_MACHINE for the reader's cases.
struct ManagerValues : ::testing::Test {
    const wchar_t* keyPath = L"SOFTWARE\\Zemrik Security\\ReaderTest";
    HKEY key = NULL;

    void SetUp() override
    {
        ASSERT_EQ(ERROR_SUCCESS,
                  RegCreateKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key, NULL));
    }
    void TearDown() override
    {
        RegCloseKey(key);
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, keyPath);
    }
    void store(const wchar_t* name, DWORD type, const void* data, DWORD size)
    {
        ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key, name, 0, type, (const BYTE*)data, size));
    }
    std::wstring read(const wchar_t* name, LONG* result = NULL)
    {
        wchar_t buffer[PIPELINE_TEXT_CAPACITY];
        wmemset(buffer, L'#', PIPELINE_TEXT_CAPACITY);
        LONG status = readManagerValue(keyPath, name, buffer);
        if (result)
            *result = status;
        EXPECT_NE(buffer + PIPELINE_TEXT_CAPACITY, wmemchr(buffer, 0, PIPELINE_TEXT_CAPACITY)) << "no terminator";
        return buffer;
    }
};

TEST_F(ManagerValues, TextValuesAndTheirLimits)
{
    std::wstring path = L"C:\\Program Files\\Zemrik Security\\Manager\\manager.exe";
    store(L"open", REG_SZ, path.c_str(), (DWORD)(path.size() + 1) * 2);
    EXPECT_EQ(path, read(L"open"));

    std::wstring longest(259, L'p');
    store(L"longest", REG_SZ, longest.c_str(), 520);
    EXPECT_EQ(longest, read(L"longest"));

    // 260 characters without a terminator fill the buffer: never handed on cut.
    std::wstring full(260, L'p');
    store(L"full", REG_SZ, full.c_str(), 520);
    EXPECT_EQ(L"", read(L"full"));

    std::wstring tooLong(400, L'p');
    store(L"tooLong", REG_SZ, tooLong.c_str(), (DWORD)(tooLong.size() + 1) * 2);
    EXPECT_EQ(L"", read(L"tooLong"));
}

TEST_F(ManagerValues, ANumberIsReadAsText)
{
    DWORD version = 0x00320031;  // the bytes of L"12"
    store(L"version", REG_DWORD, &version, sizeof(version));
    EXPECT_EQ(L"12", read(L"version"));
    DWORD zero = 0x00320000;  // first two bytes zero: an empty text
    store(L"zero", REG_DWORD, &zero, sizeof(zero));
    EXPECT_EQ(L"", read(L"zero"));
}

TEST_F(ManagerValues, MissingValueOrKey)
{
    LONG result = -1;
    EXPECT_EQ(L"", read(L"absent", &result));
    EXPECT_EQ(ERROR_SUCCESS, result);

    wchar_t buffer[PIPELINE_TEXT_CAPACITY];
    wmemset(buffer, L'#', PIPELINE_TEXT_CAPACITY);
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, readManagerValue(L"SOFTWARE\\Zemrik Security\\NoSuchKey", L"open", buffer));
    EXPECT_STREQ(L"", buffer);
}

TEST(AdminRights, TheTestUserIsAnAdministrator)
{
    // Wine's user is always in the Administrators group.
    EXPECT_TRUE(isUserAdmin());
}

}  // namespace
