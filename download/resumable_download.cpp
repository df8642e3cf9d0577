#include "download/resumable_download.h"

#include "download/download_client.h"
#include "download/http_requests.h"
#include "download/read_position.h"
#include "ui/progress_window.h"

#include <string.h>
#include <wchar.h>

static HANDLE openSharedForReading(const wchar_t* path)
{
    return CreateFileW(path, FILE_ALL_ACCESS, FILE_SHARE_READ, NULL, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
}

int downloadFile(DownloadClient* client, const wchar_t* url, const wchar_t* targetPath)
{
    // The state file records the URL with its terminator in 260 characters; a
    // longer one could only be stored cut short and would then name another file.
    if (wcsnlen(url, RESUME_URL_CAPACITY) >= RESUME_URL_CAPACITY) {
        setClientError(client, L"Can't send a HTTP request");
        return 0;
    }
    HINTERNET request = openClientRequest(client, url);
    if (!request)
        return 0;
    DownloadState state;
    if (openDownloadState(&state, targetPath) != 0) {
        setClientError(client, L"Can't open a file");
        closeRequest(request);
        return 0;
    }
    SYSTEMTIME lastModified = queryLastModified(request);
    DWORD contentLength = queryContentLength(request);
    decideResume(&state, url, contentLength, lastModified);
    int result = transferBody(&state, client, request);
    closeDownloadState(&state);
    closeRequest(request);
    return result;
}

DWORD openDownloadState(DownloadState* state, const wchar_t* targetPath)
{
    memset(state, 0, sizeof(*state));
    state->stateFile = INVALID_HANDLE_VALUE;
    state->targetFile = INVALID_HANDLE_VALUE;
    // A cut path would name another file: refuse what can't carry ".part".
    if (wcsnlen(targetPath, TARGET_PATH_MAX_LENGTH + 1) > TARGET_PATH_MAX_LENGTH)
        return ERROR_FILENAME_EXCED_RANGE;
    state->targetFile = openSharedForReading(targetPath);
    if (state->targetFile == INVALID_HANDLE_VALUE)
        return GetLastError();
    wchar_t statePath[MAX_PATH];
    wcsncpy(statePath, targetPath, MAX_PATH - 1);
    statePath[MAX_PATH - 1] = 0;
    wcsncat(statePath, L".part", MAX_PATH - 1 - wcslen(statePath));
    state->stateFile = openSharedForReading(statePath);
    if (state->stateFile != INVALID_HANDLE_VALUE) {
        DWORD count = 0;
        // A short or empty file leaves the rest of the header zero.
        ReadFile(state->stateFile, &state->header, sizeof(state->header), &count, NULL);
    }
    return 0;
}

static int headerMatches(const DownloadState* state, const wchar_t* url, DWORD contentLength, const SYSTEMTIME* lastModified)
{
    const ResumeHeader* header = &state->header;
    return header->url[0] != 0
        && contentLength != 0
        && memcmp(&header->lastModified, lastModified, sizeof(SYSTEMTIME)) == 0
        && wcsncmp(header->url, url, RESUME_URL_CAPACITY) == 0
        && header->expectedLength == contentLength
        && state->targetFile != INVALID_HANDLE_VALUE;
}

void decideResume(DownloadState* state, const wchar_t* url, DWORD contentLength, SYSTEMTIME lastModified)
{
    ResumeHeader* header = &state->header;
    if (headerMatches(state, url, contentLength, &lastModified)) {
        DWORD size = GetFileSize(state->targetFile, NULL);
        if (size == contentLength) {
            state->mode = RESUME_MODE_COMPLETE;
            return;
        }
        // A target shorter than the saved count (cut or replaced outside the
        // program, or a restart stopped before its first chunk) would leave a
        // gap before the resume offset; a count beyond the body is no record at all.
        if (size >= header->bytesWritten && header->bytesWritten <= contentLength) {
            state->mode = RESUME_MODE_RESUME;
            // Bytes beyond the saved count are stale: the resumed body must end the file.
            SetFilePointer(state->targetFile, (LONG)header->bytesWritten, NULL, FILE_BEGIN);
            SetEndOfFile(state->targetFile);
            return;
        }
    }
    state->mode = RESUME_MODE_RESTART;
    header->bytesWritten = 0;
    header->lastModified = lastModified;
    header->expectedLength = contentLength;
    wcsncpy(header->url, url, RESUME_URL_CAPACITY - 1);
    header->url[RESUME_URL_CAPACITY - 1] = 0;
}

int transferBody(DownloadState* state, DownloadClient* client, HINTERNET request)
{
    ResumeHeader* header = &state->header;
    if (state->mode == RESUME_MODE_COMPLETE)
        return 1;
    if (state->mode == RESUME_MODE_RESTART)
        resetTarget(state);
    // Some HTTP clients answer 0 without moving; only the requested offset is
    // an agreement, anything else would append the body at the wrong place.
    if (state->mode == RESUME_MODE_RESUME && (!request || moveReadPosition(request, header->bytesWritten) != header->bytesWritten))
        resetTarget(state);
    DWORD total = header->expectedLength;
    unsigned char buffer[TRANSFER_CHUNK_SIZE];
    int polled = 0;
    DWORD lastPoll = 0;
    for (;;) {
        // A poll is a kernel call (a server round trip under Wine) that costs
        // more than moving a 1 KB chunk. Polling before the first read and then
        // once STOP_POLL_INTERVAL_MS have passed keeps a stop prompt, also on a
        // slow connection where every read takes longer than that.
        DWORD now = GetTickCount();
        if (!polled || now - lastPoll >= STOP_POLL_INTERVAL_MS) {
            if (WaitForSingleObject(client->stopEvent, 0) != WAIT_TIMEOUT)
                return 0;
            polled = 1;
            lastPoll = now;
        }
        DWORD count = 0;
        if (readResponse(request, buffer, sizeof(buffer), &count) != 0) {
            setClientError(client, L"Download error");
            return 0;
        }
        // A chunk that isn't saved whole must not count: the header would claim
        // bytes the target doesn't hold, and the caller would take the file as complete.
        DWORD written = 0;
        if (!WriteFile(state->targetFile, buffer, count, &written, NULL) || written != count) {
            setClientError(client, L"Download error");
            return 0;
        }
        header->bytesWritten += count;
        if (state->stateFile != INVALID_HANDLE_VALUE) {
            DWORD headerWritten = 0;
            SetFilePointer(state->stateFile, 0, NULL, FILE_BEGIN);
            WriteFile(state->stateFile, header, sizeof(*header), &headerWritten, NULL);
        }
        if (total != 0)
            setProgress(client->window, (int)((unsigned long long)header->bytesWritten * 100 / total));
        if (count == 0) {
            // A connection that ends before Content-Length was reached has cut
            // the body short; the header keeps what was saved for a later run.
            if (total != 0 && header->bytesWritten != total) {
                setClientError(client, L"Download error");
                return 0;
            }
            return 1;
        }
    }
}

void resetTarget(DownloadState* state)
{
    SetFilePointer(state->targetFile, 0, NULL, FILE_BEGIN);
    SetEndOfFile(state->targetFile);
    state->header.bytesWritten = 0;
}

void closeDownloadState(DownloadState* state)
{
    if (state->targetFile != INVALID_HANDLE_VALUE)
        CloseHandle(state->targetFile);
    if (state->stateFile != INVALID_HANDLE_VALUE)
        CloseHandle(state->stateFile);
    memset(&state->header, 0, sizeof(state->header));
    state->targetFile = INVALID_HANDLE_VALUE;
    state->stateFile = INVALID_HANDLE_VALUE;
}
