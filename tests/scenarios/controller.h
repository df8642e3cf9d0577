// Drives installer programs under Wine the way a user would: starts them,
// finds their windows, reads texts, presses buttons and waits for the end.
#pragma once
#include <windows.h>
#include <string>
#include <vector>

struct StartedProgram {
    HANDLE process;
    DWORD id;
};

// Starts the program with the controller's environment (set the scenario's
// variables first); the process handle is the caller's.
StartedProgram startProgram(const std::wstring& path);
// The exit code, or STILL_ACTIVE when the program didn't end in time.
DWORD waitForExit(const StartedProgram& program, DWORD timeoutMs);
void endProgram(StartedProgram* program);

// A visible top-level window of the process with exactly this title.
HWND waitForWindow(DWORD processId, const wchar_t* title, DWORD timeoutMs);
// Waits until the control's text equals the expected one; returns the text seen last.
std::wstring waitForText(HWND dialog, int id, const wchar_t* expected, DWORD timeoutMs);
std::wstring controlText(HWND dialog, int id);
// Presses a button as a click would.
void pressButton(HWND dialog, int id);

// The lines that the started programs wrote into the start log.
struct StartRecord {
    DWORD processId;
    std::wstring directory;
    std::wstring program;
    std::wstring commandLine;
};
std::vector<StartRecord> readStartLog(const std::wstring& path);
