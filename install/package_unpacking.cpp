#include "install/installation_pipeline.h"

#include <shlwapi.h>

#include "download/download_client.h"
#include "download/http_requests.h"
#include "download/package_server.h"
#include "download/resumable_download.h"
#include "install/download_failure.h"
#include "session/install_session.h"
#include "ui/progress_window.h"

typedef int(__cdecl* UnpackedFileCallback)(const wchar_t* name);
typedef int(__cdecl* ExtractFiles)(const char* archivePath, UnpackedFileCallback callback);

// The name the decoder reported last; only the worker thread uses it.
static wchar_t lastUnpackedName[PIPELINE_TEXT_CAPACITY];

static void showDownloadStatus(InstallSession* session, const wchar_t* fileName)
{
    wchar_t status[PIPELINE_TEXT_CAPACITY];
    wnsprintfW(status, PIPELINE_TEXT_CAPACITY, L"Downloading %s", fileName);
    setStatusText(session->window, status);
}

// The folder's path joined with name, or 0 when it doesn't fit: a path cut
// short would name another file.
static int joinPath(const wchar_t* folder, const wchar_t* name, wchar_t* path)
{
    wchar_t joined[PIPELINE_TEXT_CAPACITY];
    lstrcpynW(joined, folder, PIPELINE_TEXT_CAPACITY);
    if (!PathAppendW(joined, name) || lstrlenW(joined) >= PIPELINE_TEXT_CAPACITY)
        return 0;
    lstrcpynW(path, joined, PIPELINE_TEXT_CAPACITY);
    return 1;
}

void downloadPackage(InstallSession* session, const wchar_t* packageName, wchar_t* packagePath)
{
    wchar_t url[PACKAGE_SERVER_URL_CAPACITY] = L"";
    DownloadClient* client = session->downloadClient;
    makePackageUrl(packageName, url);
    packagePath[0] = 0;
    showDownloadStatus(session, packageName);
    if (!joinPath(session->workFolder, packageName, packagePath)) {
        setClientError(client, L"Can't open a file");
        reportDownloadFailure(session);
        return;
    }
    if (!downloadFile(client, url, packagePath))
        reportDownloadFailure(session);
}

void downloadDecoderAndUnpack(InstallSession* session, wchar_t* packagePath)
{
    wchar_t decoderPath[PIPELINE_TEXT_CAPACITY];
    wchar_t url[PACKAGE_SERVER_URL_CAPACITY] = L"";
    DownloadClient* client = session->downloadClient;
    makeDecoderUrl(url);
    showDownloadStatus(session, DECODER_FILE_NAME);
    if (!joinPath(session->workFolder, DECODER_FILE_NAME, decoderPath)) {
        setClientError(client, L"Can't open a file");
        reportDownloadFailure(session);
        return;
    }
    if (!downloadFile(client, url, decoderPath)) {
        reportDownloadFailure(session);
        return;
    }

    wchar_t folder[PIPELINE_TEXT_CAPACITY];
    lstrcpynW(folder, packagePath, PIPELINE_TEXT_CAPACITY);
    PathRemoveFileSpecW(folder);
    wchar_t setupName[PIPELINE_TEXT_CAPACITY];
    // Without a reported file there is nothing to run: starting the archive
    // or the folder instead would be worse than stopping here.
    if (!unpackWithDecoder(decoderPath, packagePath, setupName) || !setupName[0] ||
        !joinPath(folder, setupName, packagePath)) {
        reportFailure(session, L"Unpacking error");
        return;
    }
}

int unpackWithDecoder(const wchar_t* decoderPath, const wchar_t* archivePath, wchar_t* nameBuffer)
{
    char ansiPath[PIPELINE_TEXT_CAPACITY];
    BOOL replaced = FALSE;
    // A path that needs more room, or a character the code page lacks, would
    // name another file.
    if (!WideCharToMultiByte(CP_ACP, 0, archivePath, -1, ansiPath, sizeof(ansiPath), NULL, &replaced) || replaced)
        return 0;

    // The library stays loaded until the program ends.
    HMODULE decoder = LoadLibraryW(decoderPath);
    if (!decoder)
        return 0;
    ExtractFiles extractFiles = (ExtractFiles)(void*)GetProcAddress(decoder, "extractFiles");
    if (!extractFiles)
        return 0;
    lastUnpackedName[0] = 0;
    if (extractFiles(ansiPath, onUnpackedFile) != 0) {
        MessageBoxW(NULL, L"Unpacking error", L"Error", MB_ICONERROR | MB_OK);
        return 0;
    }
    lstrcpynW(nameBuffer, lastUnpackedName, PIPELINE_TEXT_CAPACITY);
    return 1;
}

int __cdecl onUnpackedFile(const wchar_t* name)
{
    // A name too long for the buffer is forgotten rather than cut short.
    if (lstrlenW(name) < PIPELINE_TEXT_CAPACITY)
        lstrcpynW(lastUnpackedName, name, PIPELINE_TEXT_CAPACITY);
    else
        lastUnpackedName[0] = 0;
    return 0;
}
