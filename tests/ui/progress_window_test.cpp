#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>
#include <process.h>
#include <string>

#include "resources/resource_ids.h"
#include "tests/support/dialog_host.h"
#include "ui/progress_window.h"

namespace {

struct ShownDialog : ::testing::Test {
    ProgressWindow* window = createProgressWindow(GetModuleHandleW(NULL));
    DialogHost host;

    void SetUp() override { ASSERT_TRUE(startDialogHost(&host, window)); }
    void TearDown() override
    {
        HWND dialog = getWindowHandle(window);
        if (dialog)
            PostMessageW(dialog, WM_CLOSE, 0, 0);
        EXPECT_TRUE(joinDialogHost(&host, 10000));
        destroyProgressWindow(window);
    }
    HWND control(int id) { return GetDlgItem(getWindowHandle(window), id); }
    bool marquee() { return (GetWindowLongPtrW(control(IDC_PROGRESS_BAR), GWL_STYLE) & PBS_MARQUEE) != 0; }
    int position() { return (int)SendMessageW(control(IDC_PROGRESS_BAR), PBM_GETPOS, 0, 0); }
    std::wstring text(int id)
    {
        wchar_t buffer[260];
        readControlText(getWindowHandle(window), id, buffer, 260);
        return buffer;
    }
};

TEST_F(ShownDialog, OpensWithItsCaptionAndInitialStatus)
{
    wchar_t title[260];
    GetWindowTextW(getWindowHandle(window), title, 260);
    EXPECT_STREQ(L"Pellucast Firefox Addon Web-Installer", title);
    EXPECT_EQ(L"Preparing to install...", text(IDC_STATUS_TEXT));
    EXPECT_EQ(L"", text(IDC_PERCENTAGE));
    EXPECT_FALSE(IsWindowVisible(control(IDC_RESTART)));
    EXPECT_TRUE(SendMessageW(getWindowHandle(window), WM_GETICON, ICON_BIG, 0) != 0);
    EXPECT_TRUE(SendMessageW(getWindowHandle(window), WM_GETICON, ICON_SMALL, 0) != 0);
}

struct ProgressCase {
    const char* name;
    int values[3];
    int count;
    bool marquee;
    int position;
    const wchar_t* percentage;
    LONG marqueeStarts;
    LONG positionsSet;
    LONG percentageTexts;
};

const ProgressCase progressCases[] = {
    {"first zero does nothing", {0}, 1, false, 0, L"", 0, 0, 0},
    {"busy twice starts the marquee once", {-1, -1}, 2, true, 0, L"", 1, 0, 1},
    {"busy then 57", {-1, 57}, 2, false, 57, L"57%", 1, 1, 2},
    {"57 then busy", {57, -1}, 2, true, 57, L"", 1, 1, 2},
    {"150 fills the bar", {150}, 1, false, 100, L"150%", 0, 1, 1},
    {"-5 leaves the bar empty", {-5}, 1, false, 0, L"-5%", 0, 1, 1},
    {"a repeated value touches no window", {42, 42, 42}, 3, false, 42, L"42%", 0, 1, 1},
};

TEST_F(ShownDialog, SetProgressCases)
{
    for (const ProgressCase& c : progressCases) {
        SCOPED_TRACE(c.name);
        // Each case starts from a fresh record state on the same dialog.
        setProgress(window, 0);
        if (marquee()) {
            setProgress(window, -1);
            setProgress(window, 0);
        }
        ZeroMemory(&host.log, sizeof(host.log));
        for (int i = 0; i < c.count; i++)
            setProgress(window, c.values[i]);
        EXPECT_EQ(c.marquee, marquee());
        if (!c.marquee)
            EXPECT_EQ(c.position, position());
        EXPECT_EQ(c.percentage, text(IDC_PERCENTAGE));
        EXPECT_EQ(c.marqueeStarts, host.log.marqueeStarts);
        EXPECT_EQ(c.positionsSet, host.log.positionsSet);
        EXPECT_EQ(c.percentageTexts, host.log.percentageTexts);
        EXPECT_EQ(c.values[c.count - 1], window->lastProgress);
    }
}

TEST_F(ShownDialog, FailureModeOffersCloseAndRestart)
{
    setProgress(window, -1);
    enterFailureMode(window);
    setStatusText(window, L"Can't send a HTTP request\nDownload failed");
    EXPECT_TRUE(IsWindowVisible(control(IDC_RESTART)));
    EXPECT_FALSE(IsWindowVisible(control(IDC_PROGRESS_BAR)));
    EXPECT_FALSE(IsWindowVisible(control(IDC_PERCENTAGE)));
    EXPECT_EQ(L"Close", text(IDCANCEL));
    EXPECT_EQ(L"Can't send a HTTP request\nDownload failed", text(IDC_STATUS_TEXT));
}

struct EndingCase {
    const char* name;
    UINT message;
    WPARAM wParam;
    INT_PTR result;
};

TEST(ProgressDialogEnd, EachWayOfEndingForgetsTheHandleAndSavesTheRectangle)
{
    const EndingCase cases[] = {
        {"Cancel button", WM_COMMAND, IDCANCEL, IDCANCEL},
        {"Restart button", WM_COMMAND, IDC_RESTART, IDC_RESTART},
        {"title bar close", WM_SYSCOMMAND, SC_CLOSE, IDCANCEL},
        {"close request", WM_CLOSE, 0, IDCANCEL},
    };
    for (const EndingCase& c : cases) {
        SCOPED_TRACE(c.name);
        ProgressWindow* window = createProgressWindow(GetModuleHandleW(NULL));
        DialogHost host;
        ASSERT_TRUE(startDialogHost(&host, window));
        RECT shown;
        GetWindowRect(getWindowHandle(window), &shown);
        PostMessageW(getWindowHandle(window), c.message, c.wParam, 0);
        ASSERT_TRUE(joinDialogHost(&host, 10000));
        EXPECT_EQ(c.result, host.result);
        EXPECT_EQ(NULL, getWindowHandle(window));
        EXPECT_TRUE(EqualRect(&shown, &window->savedRect));
        // Updates after the end reach no window and only record the value.
        setProgress(window, 33);
        setStatusText(window, L"late");
        enterFailureMode(window);
        EXPECT_EQ(33, window->lastProgress);
        destroyProgressWindow(window);
    }
}

TEST(ProgressDialogBeforeInit, UpdatesRecordTheValueWithoutAWindow)
{
    ProgressWindow* window = createProgressWindow(GetModuleHandleW(NULL));
    setProgress(window, 57);
    EXPECT_EQ(57, window->lastProgress);
    DialogHost host;
    ASSERT_TRUE(startDialogHost(&host, window));
    setProgress(window, 57);
    EXPECT_EQ(0, host.log.positionsSet);
    EXPECT_EQ(0, host.log.percentageTexts);
    PostMessageW(getWindowHandle(window), WM_CLOSE, 0, 0);
    ASSERT_TRUE(joinDialogHost(&host, 10000));
    destroyProgressWindow(window);
}

TEST(ProgressDialogWithoutRecord, OperationsOnNoRecordDoNothing)
{
    setProgress(NULL, -1);
    setStatusText(NULL, L"text");
    enterFailureMode(NULL);
    EXPECT_EQ(NULL, getWindowHandle(NULL));
}

struct Hammer {
    ProgressWindow* window;
    volatile LONG stop;
};

unsigned __stdcall hammerUpdates(void* argument)
{
    Hammer* hammer = (Hammer*)argument;
    for (int i = 0; !hammer->stop; i++) {
        setProgress(hammer->window, i % 3 == 0 ? -1 : i % 101);
        setStatusText(hammer->window, i % 2 ? L"Downloading a" : L"Downloading b");
        if (i % 7 == 0)
            enterFailureMode(hammer->window);
    }
    return 0;
}

// The user's close and a worker update meet on the one lock; neither may wait
// for the other forever.
TEST(ProgressDialogStress, ClosingWhileTheWorkerUpdatesNeverHangs)
{
    for (int round = 0; round < 40; round++) {
        ProgressWindow* window = createProgressWindow(GetModuleHandleW(NULL));
        DialogHost host;
        ASSERT_TRUE(startDialogHost(&host, window));
        Hammer hammer = {window, 0};
        HANDLE worker = (HANDLE)_beginthreadex(NULL, 0, hammerUpdates, &hammer, 0, NULL);
        Sleep(round % 5);
        HWND dialog = getWindowHandle(window);
        if (round % 2)
            PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
        else
            PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
        ASSERT_TRUE(joinDialogHost(&host, 10000)) << "round " << round;
        InterlockedExchange(&hammer.stop, 1);
        ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(worker, 10000)) << "round " << round;
        CloseHandle(worker);
        EXPECT_EQ(NULL, getWindowHandle(window));
        destroyProgressWindow(window);
    }
}

}  // namespace
