#include "tests/scenarios/controller.h"

#include "tests/support/test_files.h"

StartedProgram startProgram(const std::wstring& path)
{
    std::wstring commandLine = L"\"" + path + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    StartedProgram started = {};
    if (CreateProcessW(NULL, &commandLine[0], NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process)) {
        CloseHandle(process.hThread);
        started.process = process.hProcess;
        started.id = process.dwProcessId;
    }
    return started;
}

DWORD waitForExit(const StartedProgram& program, DWORD timeoutMs)
{
    if (WaitForSingleObject(program.process, timeoutMs) != WAIT_OBJECT_0)
        return STILL_ACTIVE;
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(program.process, &code);
    return code;
}

void endProgram(StartedProgram* program)
{
    if (!program->process)
        return;
    if (WaitForSingleObject(program->process, 0) != WAIT_OBJECT_0) {
        TerminateProcess(program->process, 99);
        WaitForSingleObject(program->process, 5000);
    }
    CloseHandle(program->process);
    program->process = NULL;
}

struct WindowSearch {
    DWORD processId;
    const wchar_t* title;
    HWND found;
};

static BOOL CALLBACK matchWindow(HWND window, LPARAM argument)
{
    WindowSearch* search = (WindowSearch*)argument;
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != search->processId || !IsWindowVisible(window))
        return TRUE;
    wchar_t title[260];
    GetWindowTextW(window, title, 260);
    if (lstrcmpW(title, search->title))
        return TRUE;
    search->found = window;
    return FALSE;
}

HWND waitForWindow(DWORD processId, const wchar_t* title, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    do {
        WindowSearch search = {processId, title, NULL};
        EnumWindows(matchWindow, (LPARAM)&search);
        if (search.found)
            return search.found;
        Sleep(20);
    } while (GetTickCount() - start < timeoutMs);
    return NULL;
}

std::wstring controlText(HWND dialog, int id)
{
    wchar_t text[520] = L"";
    DWORD_PTR copied = 0;
    SendMessageTimeoutW(GetDlgItem(dialog, id), WM_GETTEXT, 520, (LPARAM)text, SMTO_ABORTIFHUNG, 5000, &copied);
    return text;
}

std::wstring waitForText(HWND dialog, int id, const wchar_t* expected, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    std::wstring text = controlText(dialog, id);
    while (text != expected && GetTickCount() - start < timeoutMs) {
        Sleep(20);
        text = controlText(dialog, id);
    }
    return text;
}

void pressButton(HWND dialog, int id)
{
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)GetDlgItem(dialog, id));
}

std::vector<StartRecord> readStartLog(const std::wstring& path)
{
    std::vector<StartRecord> records;
    for (const std::wstring& line : readUtf16Lines(path)) {
        size_t tab1 = line.find(L'\t');
        size_t tab2 = tab1 == std::wstring::npos ? tab1 : line.find(L'\t', tab1 + 1);
        size_t tab3 = tab2 == std::wstring::npos ? tab2 : line.find(L'\t', tab2 + 1);
        if (tab3 == std::wstring::npos)
            continue;
        records.push_back({(DWORD)_wtoi(line.substr(0, tab1).c_str()), line.substr(tab1 + 1, tab2 - tab1 - 1),
                           line.substr(tab2 + 1, tab3 - tab2 - 1), line.substr(tab3 + 1)});
    }
    return records;
}
