// A decoder library that reports the names in PMTEST_FAKE_NAMES (separated
// by '|') and returns PMTEST_FAKE_RESULT, for cases the real one never makes.
#include <windows.h>
#include <shlwapi.h>

typedef int(__cdecl* UnpackedFileCallback)(const wchar_t* name);

extern "C" __declspec(dllexport) int __cdecl extractFiles(const char*, UnpackedFileCallback callback)
{
    static wchar_t names[4096];
    if (GetEnvironmentVariableW(L"PMTEST_FAKE_NAMES", names, 4096)) {
        wchar_t* name = names;
        for (wchar_t* end; (end = StrChrW(name, L'|')); name = end + 1) {
            *end = 0;
            callback(name);
        }
        callback(name);
    }
    wchar_t result[16] = L"0";
    GetEnvironmentVariableW(L"PMTEST_FAKE_RESULT", result, 16);
    return StrToIntW(result);
}
