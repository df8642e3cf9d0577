#include "download/package_server.h"

#include <windows.h>
#include <shlwapi.h>

const wchar_t managerBaseUrl[] = PACKAGE_SERVER_ADDRESS L"/pellucast_manager/packages/manager/";
const wchar_t packagesBaseUrl[] = PACKAGE_SERVER_ADDRESS L"/pellucast_manager/packages/";

static_assert(sizeof(managerBaseUrl) / sizeof(wchar_t) < PACKAGE_SERVER_URL_CAPACITY, "the server address leaves no room for a request");

int combineServerUrl(const wchar_t* base, const wchar_t* relative, wchar_t* url)
{
    DWORD length = PACKAGE_SERVER_URL_CAPACITY;
    if (FAILED(UrlCombineW(base, relative, url, &length, 0))) {
        url[0] = 0;
        return 0;
    }
    return 1;
}

int makeUpdateQueryUrl(wchar_t* url)
{
    return combineServerUrl(managerBaseUrl, UPDATE_QUERY_NAME, url);
}

int makePackageUrl(const wchar_t* packageName, wchar_t* url)
{
    return combineServerUrl(managerBaseUrl, packageName, url);
}

int makeDecoderUrl(wchar_t* url)
{
    return combineServerUrl(packagesBaseUrl, DECODER_FILE_NAME, url);
}
