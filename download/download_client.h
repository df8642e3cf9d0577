// The one HTTP client of a run: internet handle, stop event, last failure
// text and the proxy credentials the user typed.
#pragma once
#include <windows.h>
#include <wininet.h>

struct ProgressWindow;

#define CLIENT_TEXT_CAPACITY 260

struct DownloadClient {
    ProgressWindow* window;  // not owned
    HINTERNET internetHandle;
    HANDLE stopEvent;        // auto-reset; signalled by requestStop
    wchar_t lastError[CLIENT_TEXT_CAPACITY];
    wchar_t proxyUserName[CLIENT_TEXT_CAPACITY];
    wchar_t proxyPassword[CLIENT_TEXT_CAPACITY];
};

// A new client with its internet handle and stop event (either may be null
// when the system refused it), or null when the record can't be allocated.
DownloadClient* createDownloadClient(ProgressWindow* window);
// Closes the internet handle and the stop event and frees the record; only
// after the worker has ended.
void destroyDownloadClient(DownloadClient* client);
