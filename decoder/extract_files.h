// The export of 7zDecoder.dll that the installer calls.
#pragma once

#include <wchar.h>

#ifdef __cplusplus
extern "C" {
#endif

// Receives each unpacked file's name, relative to the archive's folder; returns 0.
typedef int(__cdecl* UnpackedFileCallback)(const wchar_t* name);

// Unpacks the 7z archive at archivePath (ANSI code page) into the archive's own
// folder, reporting every file in archive order before returning. 0 when the
// whole archive was unpacked and every CRC matched; otherwise a system error code.
__declspec(dllexport) int __cdecl extractFiles(const char* archivePath,
                                               UnpackedFileCallback callback);

#ifdef __cplusplus
}
#endif
