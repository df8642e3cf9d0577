// Stands in for the installed security manager: records every command line
// it gets in manager.log beside itself and exits.
#include <windows.h>
#include <shlwapi.h>

#include "stand_ins/stand_in_log.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int)
{
    wchar_t log[MAX_PATH];
    GetModuleFileNameW(NULL, log, MAX_PATH);
    PathRemoveFileSpecW(log);
    PathAppendW(log, L"manager.log");
    appendLogLine(log, GetCommandLineW());
    return 0;
}
