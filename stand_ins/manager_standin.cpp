// Stands in for the installed security manager: records every command line
// it gets, and how the installer's window looked, in manager.log beside
// itself and exits.
#include <windows.h>
#include <shlwapi.h>

#include "stand_ins/stand_in_log.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int)
{
    wchar_t folder[MAX_PATH];
    GetModuleFileNameW(NULL, folder, MAX_PATH);
    PathRemoveFileSpecW(folder);
    logStart(folder, L"manager.log");
    return 0;
}
