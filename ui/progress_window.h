// The progress dialog shared by the main thread (which runs it) and the
// worker thread (which reports through the operations below).
#pragma once
#include <windows.h>

#define PROGRESS_TEXT_CAPACITY 260

struct ProgressWindow {
    HINSTANCE instance;
    HWND dialog;            // none until WM_INITDIALOG, none again once the dialog closes
    int lastProgress;       // -1: marquee; otherwise the percentage last shown
    RECT savedRect;         // the dialog's rectangle when it closed; zero until then
    CRITICAL_SECTION lock;  // guards dialog, lastProgress, savedRect and every update
    wchar_t caption[PROGRESS_TEXT_CAPACITY];
};

// A zero-filled record with its lock ready, or null when memory is exhausted.
ProgressWindow* createProgressWindow(HINSTANCE instance);
// Deletes the lock and frees the record; only after the worker has ended.
void destroyProgressWindow(ProgressWindow* window);

// -1 turns the bar into a marquee; any other value is shown as a percentage.
// A value equal to the last one touches no window.
void setProgress(ProgressWindow* window, int value);
void setStatusText(ProgressWindow* window, const wchar_t* text);
HWND getWindowHandle(ProgressWindow* window);
// Shows Restart, hides the bar and the percentage, relabels Cancel "Close".
void enterFailureMode(ProgressWindow* window);

INT_PTR CALLBACK progressDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
BOOL onInitDialog(ProgressWindow* window, HWND dialog);
