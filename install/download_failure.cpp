#include "install/download_failure.h"

#include <windows.h>
#include <shlwapi.h>

#include "download/download_client.h"
#include "install/installation_pipeline.h"
#include "session/install_session.h"

void reportDownloadFailure(InstallSession* session)
{
    wchar_t message[PIPELINE_TEXT_CAPACITY] = L"";
    // The message is shown, not used as a name: cutting it short is harmless.
    lstrcpynW(message, session->downloadClient->lastError, PIPELINE_TEXT_CAPACITY);
    StrNCatW(message, L"\nDownload failed", PIPELINE_TEXT_CAPACITY - lstrlenW(message));
    reportFailure(session, message);
}
