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

// The worker holds the lock while its window calls wait for the dialog's
// thread. The dialog's thread therefore never blocks on the lock outright: it
// keeps delivering the messages other threads send it until the lock is free.
static void enterLockOnDialogThread(ProgressWindow* window)
{
    while (!TryEnterCriticalSection(&window->lock)) {
        MSG message;
        PeekMessageW(&message, NULL, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
        MsgWaitForMultipleObjects(0, NULL, FALSE, 1, QS_SENDMESSAGE);
    }
}

// Called on the dialog's thread while the dialog still exists, under the lock.
static void forgetDialog(ProgressWindow* window, HWND dialog)
{
    GetWindowRect(dialog, &window->savedRect);
    window->dialog = NULL;
}

void setProgress(ProgressWindow* window, int value)
{
    if (!window)
        return;
    EnterCriticalSection(&window->lock);
    if (value != window->lastProgress) {
        wchar_t text[256] = L"";
        HWND bar = GetDlgItem(window->dialog, IDC_PROGRESS_BAR);
        HWND percentage = GetDlgItem(window->dialog, IDC_PERCENTAGE);
        if (value == -1) {
            SetWindowLongPtrW(bar, GWL_STYLE, GetWindowLongPtrW(bar, GWL_STYLE) | PBS_MARQUEE);
            SendMessageW(bar, PBM_SETMARQUEE, 1, 1);
        } else {
            if (window->lastProgress == -1)
                SetWindowLongPtrW(bar, GWL_STYLE, GetWindowLongPtrW(bar, GWL_STYLE) & ~(LONG_PTR)PBS_MARQUEE);
            SendMessageW(bar, PBM_SETPOS, (WPARAM)value, 0);
            wnsprintfW(text, 256, L"%d%%", value);
        }
        SetWindowTextW(percentage, text);
        window->lastProgress = value;
    }
    LeaveCriticalSection(&window->lock);
}

void setStatusText(ProgressWindow* window, const wchar_t* text)
{
    if (!window)
        return;
    EnterCriticalSection(&window->lock);
    SetDlgItemTextW(window->dialog, IDC_STATUS_TEXT, text);
    LeaveCriticalSection(&window->lock);
}

HWND getWindowHandle(ProgressWindow* window)
{
    if (!window)
        return NULL;
    EnterCriticalSection(&window->lock);
    HWND dialog = window->dialog;
    LeaveCriticalSection(&window->lock);
    return dialog;
}

void enterFailureMode(ProgressWindow* window)
{
    if (!window)
        return;
    EnterCriticalSection(&window->lock);
    ShowWindow(GetDlgItem(window->dialog, IDC_RESTART), SW_SHOW);
    ShowWindow(GetDlgItem(window->dialog, IDC_PROGRESS_BAR), SW_HIDE);
    ShowWindow(GetDlgItem(window->dialog, IDC_PERCENTAGE), SW_HIDE);
    SetDlgItemTextW(window->dialog, IDCANCEL, L"Close");
    LeaveCriticalSection(&window->lock);
}

BOOL onInitDialog(ProgressWindow* window, HWND dialog)
{
    enterLockOnDialogThread(window);
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
            enterLockOnDialogThread(window);
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
            enterLockOnDialogThread(window);
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
