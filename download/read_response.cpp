#include "download/http_requests.h"

DWORD readResponse(HINTERNET request, void* buffer, DWORD size, DWORD* count)
{
    if (!request)
        return 0;
    return InternetReadFile(request, buffer, size, count) ? 0 : GetLastError();
}
