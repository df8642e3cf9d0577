#include "install/installation_pipeline.h"

#include <shlwapi.h>

#include "download/download_client.h"
#include "download/http_requests.h"
#include "download/package_server.h"
#include "install/download_failure.h"
#include "session/install_session.h"
#include "ui/progress_window.h"

void queryNewestPackage(InstallSession* session, wchar_t* packageName)
{
    wchar_t url[PACKAGE_SERVER_URL_CAPACITY] = L"";
    char answer[UPDATE_ANSWER_CAPACITY] = {};
    makeUpdateQueryUrl(url);
    setProgress(session->window, -1);
    setStatusText(session->window, L"Checking for updates");
    if (!fetchText(session->downloadClient, url, answer)) {
        reportDownloadFailure(session);
        return;
    }
    // The name becomes a file in a folder that an elevated setup runs from:
    // anything that could point elsewhere is refused like a broken answer. So
    // is an answer that filled the buffer: its name may have been cut short.
    wchar_t name[PIPELINE_TEXT_CAPACITY];
    if (lstrlenA(answer) >= UPDATE_ANSWER_CAPACITY - 1 || !parseVersionResponse(answer, name) ||
        !isSafePackageName(name)) {
        reportFailure(session, L"Invalid information about package");
        return;
    }
    lstrcpynW(packageName, name, PIPELINE_TEXT_CAPACITY);
}

int parseVersionResponse(const char* answer, wchar_t* packageName)
{
    const char* firstBreak = strchr(answer, '\n');
    if (!firstBreak || !firstBreak[1])
        return 0;
    const char* secondBreak = strchr(firstBreak + 1, '\n');
    if (!secondBreak)
        return 0;
    if (!MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, secondBreak + 1, -1, packageName, PIPELINE_TEXT_CAPACITY))
        // Too long for the buffer: an empty name rather than a cut one.
        packageName[0] = 0;
    return 1;
}

int isSafePackageName(const wchar_t* packageName)
{
    if (!packageName[0])
        return 0;
    // "." and ".." name folders; the system treats longer runs of dots alike.
    if (!packageName[StrSpnW(packageName, L".")])
        return 0;
    for (const wchar_t* c = packageName; *c; c++) {
        if (*c < 0x20 || *c == 0x7F || *c == L'\\' || *c == L'/' || *c == L':')
            return 0;
    }
    return 1;
}
