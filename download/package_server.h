// The package server's URLs: its address is fixed at build time
// (PACKAGE_SERVER_ADDRESS), the paths on it are fixed here.
#pragma once
#include <wchar.h>

#define PACKAGE_SERVER_URL_CAPACITY 260
#define UPDATE_QUERY_NAME L"get_highest_version.php"
#define DECODER_FILE_NAME L"7zDecoder.dll"

// PACKAGE_SERVER_ADDRESS + "/pellucast_manager/packages/manager/"
extern const wchar_t managerBaseUrl[];
// PACKAGE_SERVER_ADDRESS + "/pellucast_manager/packages/"
extern const wchar_t packagesBaseUrl[];

// base combined with relative (UrlCombineW, flags 0) into url, a buffer of
// PACKAGE_SERVER_URL_CAPACITY characters. 1 on success; 0 when the system
// refuses or the result doesn't fit, and url is then empty, never cut short.
int combineServerUrl(const wchar_t* base, const wchar_t* relative, wchar_t* url);

// The update query: manager base + "get_highest_version.php".
int makeUpdateQueryUrl(wchar_t* url);
// A package: manager base + the package name from the update answer.
int makePackageUrl(const wchar_t* packageName, wchar_t* url);
// The decoder library: packages base + "7zDecoder.dll".
int makeDecoderUrl(wchar_t* url);
