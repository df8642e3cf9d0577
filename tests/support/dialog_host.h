// Runs the real progress dialog on a thread of its own, so that a test can
// play the worker thread and watch what reaches the dialog's controls.
#pragma once
#include <windows.h>

struct ProgressWindow;

// What the bar and the percentage received since the dialog started.
struct ControlLog {
    volatile LONG marqueeStarts;   // PBM_SETMARQUEE with animation on
    volatile LONG positionsSet;    // PBM_SETPOS
    volatile LONG percentageTexts; // WM_SETTEXT to the percentage
    int percentages[128];          // the texts received, as numbers, in order (first 128)
};

struct DialogHost {
    ProgressWindow* window;
    HANDLE thread;
    INT_PTR result;                // what the dialog ended with
    ControlLog log;
};

// Starts the dialog for the record and waits until it has stored its handle.
// Returns 0 when the dialog didn't come up within a few seconds.
int startDialogHost(DialogHost* host, ProgressWindow* window);
// Waits for the dialog to end (the test must end it); 0 on a time-out.
int joinDialogHost(DialogHost* host, DWORD timeoutMs);

// Reads a control of a dialog (also one of another process).
void readControlText(HWND dialog, int id, wchar_t* text, int capacity);
