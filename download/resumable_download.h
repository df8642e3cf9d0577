// Resumable download of a URL into a target file. Beside the target a state
// file (the target's path + ".part") holds one ResumeHeader that says which
// response the target belongs to and how much of it is saved, so that a later
// run resumes an interrupted download and skips a completed one.
#pragma once
#include <windows.h>
#include <wininet.h>
#include <stddef.h>
#include <stdint.h>

struct DownloadClient;

#define RESUME_URL_CAPACITY 260
// The longest target path whose state file path still fits 260 characters.
#define TARGET_PATH_MAX_LENGTH 254
#define TRANSFER_CHUNK_SIZE 1024
// The stop event is polled before the first read, then at most this often.
#define STOP_POLL_INTERVAL_MS 10

// The state file's record: 544 bytes, little-endian, read and written whole at
// offset 0. Files written by earlier versions must stay readable: never change it.
struct ResumeHeader {
    SYSTEMTIME lastModified;          // the response's Last-Modified; zero when it had none
    uint32_t expectedLength;          // the response's Content-Length; 0 when it had none
    uint32_t bytesWritten;            // body bytes saved in the target
    wchar_t url[RESUME_URL_CAPACITY]; // UTF-16LE; the code units after the terminator mean nothing
};

static_assert(sizeof(wchar_t) == 2, "the state file stores UTF-16 code units");
static_assert(sizeof(SYSTEMTIME) == 16, "the state file stores eight 16-bit time fields");
static_assert(offsetof(ResumeHeader, lastModified) == 0, "state file layout");
static_assert(offsetof(ResumeHeader, expectedLength) == 16, "state file layout");
static_assert(offsetof(ResumeHeader, bytesWritten) == 20, "state file layout");
static_assert(offsetof(ResumeHeader, url) == 24, "state file layout");
static_assert(sizeof(ResumeHeader) == 544, "state file layout");

enum ResumeMode : uint32_t {
    RESUME_MODE_RESTART = 0,   // cut the target and save the body from its first byte
    RESUME_MODE_COMPLETE = 1,  // the target holds the whole body; read nothing
    RESUME_MODE_RESUME = 2,    // save the body from bytesWritten on
};
static_assert(sizeof(ResumeMode) == 4, "ResumeMode is 32-bit");

struct DownloadState {
    ResumeHeader header;
    HANDLE stateFile;   // INVALID_HANDLE_VALUE when not open
    HANDLE targetFile;  // INVALID_HANDLE_VALUE when not open
    ResumeMode mode;
};

// 1 when the target holds the body of url, saved now or found complete; 0 on a
// failure (the client's lastError says which) or a stop (lastError unchanged).
// A URL of 260 characters or more, or a target path of more than 254, is refused.
int downloadFile(DownloadClient* client, const wchar_t* url, const wchar_t* targetPath);

// Opens (or creates) the target and its state file and loads the header.
// 0, or the system error when the target can't be opened or its path is too long.
DWORD openDownloadState(DownloadState* state, const wchar_t* targetPath);

// Sets mode from the stored header and the response; on a restart the header
// is reset in memory to describe the response. url must be shorter than 260.
void decideResume(DownloadState* state, const wchar_t* url, DWORD contentLength, SYSTEMTIME lastModified);

// Saves the body as mode says, rewriting the header after every chunk; a stop
// is seen before the first read and within STOP_POLL_INTERVAL_MS after that.
// 1 once the body has ended (at once for complete); 0 on a stop, or with
// lastError "Download error" on a failed read or write or a body that ended
// short of its Content-Length.
int transferBody(DownloadState* state, DownloadClient* client, HINTERNET request);

// Cuts the target to zero length and sets bytesWritten to 0.
void resetTarget(DownloadState* state);

// Closes both files, clears the header and marks both handles not open.
void closeDownloadState(DownloadState* state);
