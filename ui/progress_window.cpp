#include "ui/progress_window.h"

#include <commctrl.h>
#include <shlwapi.h>

#include "resources/resource_ids.h"
#include "session/record_memory.h"

ProgressWindow* createProgressWindow(HINSTANCE instance)
{
    ProgressWindow* window = (ProgressWindow*)allocateRecord(sizeof(ProgressWindow));
    if (!window)
        return NULL;
    InitializeCriticalSection(&window->lock);
    window->lastProgress = 0;
    window->instance = instance;
    lstrcpynW(window->caption, L"Pellucast Firefox Addon Web-Installer", PROGRESS_TEXT_CAPACITY);
    return window;
}

void destroyProgressWindow(ProgressWindow* window)
{
    if (!window)
        return;
    DeleteCriticalSection(&window->lock);
    freeRecord(window);
}

// Called on the dialog's thread while the dialog still exists, under the lock.
static void forgetDialog(ProgressWindow* window, HWND dialog)
{
    GetWindowRect(dialog, &window->savedRect);
    window->dialog = NULL;
}

// The worker's operations hold the lock only while they read or write the
// record, never across a window call: those calls wait for the dialog's
// thread, which takes the same lock while it handles WM_CLOSE and WM_DESTROY.
static HWND readDialog(ProgressWindow* window)
{
    EnterCriticalSection(&window->lock);
    HWND dialog = window->dialog;
    LeaveCriticalSection(&window->lock);
    return dialog;
}

void setProgress(ProgressWindow* window, int value)
{
    if (!window)
        return;
    EnterCriticalSection(&window->lock);
    int previous = window->lastProgress;
    HWND dialog = window->dialog;
    window->lastProgress = value;
    LeaveCriticalSection(&window->lock);
    if (value == previous)
        return;

    wchar_t text[256] = L"";
    HWND bar = GetDlgItem(dialog, IDC_PROGRESS_BAR);
    HWND percentage = GetDlgItem(dialog, IDC_PERCENTAGE);
    if (value == -1) {
        SetWindowLongPtrW(bar, GWL_STYLE, GetWindowLongPtrW(bar, GWL_STYLE) | PBS_MARQUEE);
        SendMessageW(bar, PBM_SETMARQUEE, 1, 1);
    } else {
        if (previous == -1)
            SetWindowLongPtrW(bar, GWL_STYLE, GetWindowLongPtrW(bar, GWL_STYLE) & ~(LONG_PTR)PBS_MARQUEE);
        SendMessageW(bar, PBM_SETPOS, (WPARAM)value, 0);
        wnsprintfW(text, 256, L"%d%%", value);
    }
    SetWindowTextW(percentage, text);
}

void setStatusText(ProgressWindow* window, const wchar_t* text)
{
    if (!window)
        return;
    SetDlgItemTextW(readDialog(window), IDC_STATUS_TEXT, text);
}

HWND getWindowHandle(ProgressWindow* window)
{
    return window ? readDialog(window) : NULL;
}

void enterFailureMode(ProgressWindow* window)
{
    if (!window)
        return;
    HWND dialog = readDialog(window);
    ShowWindow(GetDlgItem(dialog, IDC_RESTART), SW_SHOW);
    ShowWindow(GetDlgItem(dialog, IDC_PROGRESS_BAR), SW_HIDE);
    ShowWindow(GetDlgItem(dialog, IDC_PERCENTAGE), SW_HIDE);
    SetDlgItemTextW(dialog, IDCANCEL, L"Close");
}

BOOL onInitDialog(ProgressWindow* window, HWND dialog)
{
    EnterCriticalSection(&window->lock);
    window->dialog = dialog;
    HICON largeIcon = (HICON)LoadImageW(window->instance, MAIN_ICON_NAME, IMAGE_ICON,
                                        GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON), LR_DEFAULTCOLOR);
    HICON smallIcon = (HICON)LoadImageW(window->instance, MAIN_ICON_NAME, IMAGE_ICON,
                                        GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), LR_DEFAULTCOLOR);
    SendMessageW(dialog, WM_SETICON, ICON_BIG, (LPARAM)largeIcon);
    SendMessageW(dialog, WM_SETICON, ICON_SMALL, (LPARAM)smallIcon);
    SetWindowLongPtrW(dialog, GWLP_USERDATA, (LONG_PTR)window);
    SetWindowTextW(dialog, window->caption);
    LeaveCriticalSection(&window->lock);
    return TRUE;
}

INT_PTR CALLBACK progressDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        return onInitDialog((ProgressWindow*)lParam, dialog);
    case WM_CLOSE: {
        ProgressWindow* window = (ProgressWindow*)GetWindowLongPtrW(dialog, GWLP_USERDATA);
        if (window) {
            EnterCriticalSection(&window->lock);
            forgetDialog(window, dialog);
            LeaveCriticalSection(&window->lock);
        }
        // The default handling turns the close into IDCANCEL.
        return FALSE;
    }
    case WM_DESTROY: {
        // A button or key ends the dialog without WM_CLOSE; the handle must
        // still be forgotten before the window goes, so that no later update
        // or close request can reach a destroyed or reused window.
        ProgressWindow* window = (ProgressWindow*)GetWindowLongPtrW(dialog, GWLP_USERDATA);
        if (window) {
            EnterCriticalSection(&window->lock);
            if (window->dialog == dialog)
                forgetDialog(window, dialog);
            LeaveCriticalSection(&window->lock);
        }
        return FALSE;
    }
    case WM_COMMAND:
        EndDialog(dialog, LOWORD(wParam));
        return TRUE;
    default:
        return FALSE;
    }
}
