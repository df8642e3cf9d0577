#include "tests/support/dialog_host.h"

#include <commctrl.h>
#include <process.h>
#include <stdlib.h>

#include "resources/resource_ids.h"
#include "ui/progress_window.h"

static DialogHost* activeHost;
static WNDPROC barProc;
static WNDPROC percentageProc;

static LRESULT CALLBACK recordBar(HWND control, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == PBM_SETMARQUEE && wParam)
        InterlockedIncrement(&activeHost->log.marqueeStarts);
    if (message == PBM_SETPOS)
        InterlockedIncrement(&activeHost->log.positionsSet);
    return CallWindowProcW(barProc, control, message, wParam, lParam);
}

static LRESULT CALLBACK recordPercentage(HWND control, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_SETTEXT) {
        LONG index = InterlockedIncrement(&activeHost->log.percentageTexts) - 1;
        if (index < 128)
            activeHost->log.percentages[index] = _wtoi((const wchar_t*)lParam);
    }
    return CallWindowProcW(percentageProc, control, message, wParam, lParam);
}

static INT_PTR CALLBACK hostDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    INT_PTR result = progressDialogProc(dialog, message, wParam, lParam);
    if (message == WM_INITDIALOG) {
        barProc = (WNDPROC)SetWindowLongPtrW(GetDlgItem(dialog, IDC_PROGRESS_BAR), GWLP_WNDPROC, (LONG_PTR)recordBar);
        percentageProc = (WNDPROC)SetWindowLongPtrW(GetDlgItem(dialog, IDC_PERCENTAGE), GWLP_WNDPROC,
                                                    (LONG_PTR)recordPercentage);
    }
    return result;
}

static unsigned __stdcall dialogThread(void* argument)
{
    DialogHost* host = (DialogHost*)argument;
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);
    host->result = DialogBoxParamW(GetModuleHandleW(NULL), MAKEINTRESOURCEW(IDD_PROGRESS), NULL, hostDialogProc,
                                   (LPARAM)host->window);
    return 0;
}

int startDialogHost(DialogHost* host, ProgressWindow* window)
{
    ZeroMemory(host, sizeof(*host));
    host->window = window;
    activeHost = host;
    host->thread = (HANDLE)_beginthreadex(NULL, 0, dialogThread, host, 0, NULL);
    for (int i = 0; i < 500; i++) {
        if (getWindowHandle(window))
            return 1;
        Sleep(10);
    }
    return 0;
}

int joinDialogHost(DialogHost* host, DWORD timeoutMs)
{
    if (WaitForSingleObject(host->thread, timeoutMs) != WAIT_OBJECT_0)
        return 0;
    CloseHandle(host->thread);
    host->thread = NULL;
    return 1;
}

void readControlText(HWND dialog, int id, wchar_t* text, int capacity)
{
    text[0] = 0;
    DWORD_PTR copied = 0;
    SendMessageTimeoutW(GetDlgItem(dialog, id), WM_GETTEXT, capacity, (LPARAM)text, SMTO_ABORTIFHUNG, 5000, &copied);
}
