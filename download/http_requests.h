// The HTTP requests of the download engine: every request is a GET through
// openUrl, which answers a proxy's call for credentials with the system's
// dialog and accepts the statuses 200 and 304 only.
#pragma once
#include <windows.h>
#include <wininet.h>

struct DownloadClient;
struct ProgressWindow;

#define FETCH_TEXT_CAPACITY 512

// A request for url whose status is 200 or 304, or null. A 407 shows the proxy
// credentials dialog over the progress window for as long as the proxy asks and
// the user confirms; *credentialsEntered (when given) tells whether they did.
HINTERNET openUrl(HINTERNET internetHandle, const wchar_t* url, ProgressWindow* window, int* credentialsEntered);

// The status code; 0 for a null request or a failed query.
DWORD queryStatusCode(HINTERNET request);
// Content-Length; 0 for a null request, a missing header or a failed query.
DWORD queryContentLength(HINTERNET request);
// Last-Modified; all zero for a null request, a missing header or a failed query.
SYSTEMTIME queryLastModified(HINTERNET request);

// Reads up to size body bytes; 0 on success (a count of 0 means the body has
// ended) or for a null request, which leaves *count alone; else the system error.
// A read may return fewer bytes than asked before the body ends. Defined in a
// file of its own, so that a test program can link a version that returns
// pieces, which the test system's HTTP client never does.
DWORD readResponse(HINTERNET request, void* buffer, DWORD size, DWORD* count);

// The proxy user name or password typed for this request, into a buffer of
// CLIENT_TEXT_CAPACITY characters; the call's success, 0 for a null request.
int queryProxyUserName(HINTERNET request, wchar_t* destination);
int queryProxyPassword(HINTERNET request, wchar_t* destination);

// Closes a request; nothing for null.
void closeRequest(HINTERNET request);

// Replaces the client's lastError with text.
void setClientError(DownloadClient* client, const wchar_t* text);

// openUrl with the client's handle and window; the proxy credentials the user
// typed are kept in the client. Null with lastError set when it fails.
HINTERNET openClientRequest(DownloadClient* client, const wchar_t* url);

// Reads the body of url into text (FETCH_TEXT_CAPACITY bytes) until the body
// ends or all but the last byte are filled, and always ends it with a zero
// byte inside the buffer. 1 on success; 0 with the client's lastError set,
// also when the body ends short of its Content-Length.
int fetchText(DownloadClient* client, const wchar_t* url, char* text);
