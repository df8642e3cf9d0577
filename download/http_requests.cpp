#include "download/http_requests.h"

#include "download/download_client.h"
#include "ui/progress_window.h"

#include <string.h>
#include <wchar.h>

static const wchar_t acceptHeader[] = L"Accept: */*\r\n\r\n";
static const DWORD acceptHeaderLength = 15;
static_assert(sizeof(acceptHeader) / sizeof(acceptHeader[0]) == acceptHeaderLength + 1, "the header length given to the system");

// The response's status is read again after every resend, so a 407 loops for as
// long as the proxy refuses and the user confirms new credentials.
HINTERNET openUrl(HINTERNET internetHandle, const wchar_t* url, ProgressWindow* window, int* credentialsEntered)
{
    if (credentialsEntered)
        *credentialsEntered = 0;
    HINTERNET request = InternetOpenUrlW(internetHandle, url, acceptHeader, acceptHeaderLength, 0, 0);
    if (!request)
        return NULL;
    DWORD status = queryStatusCode(request);
    while (status == HTTP_STATUS_PROXY_AUTH_REQ) {
        DWORD answer = InternetErrorDlg(getWindowHandle(window), request, ERROR_INTERNET_INCORRECT_PASSWORD,
            FLAGS_ERROR_UI_FILTER_FOR_ERRORS | FLAGS_ERROR_UI_FLAGS_CHANGE_OPTIONS | FLAGS_ERROR_UI_FLAGS_GENERATE_DATA, NULL);
        if (answer != ERROR_INTERNET_FORCE_RETRY)
            break;
        if (credentialsEntered)
            *credentialsEntered = 1;
        HttpSendRequestW(request, acceptHeader, acceptHeaderLength, NULL, 0);
        status = queryStatusCode(request);
    }
    if (status == HTTP_STATUS_OK || status == HTTP_STATUS_NOT_MODIFIED)
        return request;
    closeRequest(request);
    return NULL;
}

static DWORD queryNumber(HINTERNET request, DWORD infoLevel)
{
    DWORD number = 0;
    DWORD length = sizeof(number);
    if (request)
        HttpQueryInfoW(request, infoLevel | HTTP_QUERY_FLAG_NUMBER, &number, &length, NULL);
    return number;
}

DWORD queryStatusCode(HINTERNET request)
{
    return queryNumber(request, HTTP_QUERY_STATUS_CODE);
}

DWORD queryContentLength(HINTERNET request)
{
    return queryNumber(request, HTTP_QUERY_CONTENT_LENGTH);
}

SYSTEMTIME queryLastModified(HINTERNET request)
{
    SYSTEMTIME time;
    memset(&time, 0, sizeof(time));
    DWORD length = sizeof(time);
    if (request && !HttpQueryInfoW(request, HTTP_QUERY_LAST_MODIFIED | HTTP_QUERY_FLAG_SYSTEMTIME, &time, &length, NULL))
        memset(&time, 0, sizeof(time));  // a failed query may leave part of a time behind
    return time;
}

static int queryProxyText(HINTERNET request, DWORD option, wchar_t* destination)
{
    if (!request)
        return 0;
    DWORD length = CLIENT_TEXT_CAPACITY * sizeof(wchar_t);
    int done = InternetQueryOptionW(request, option, destination, &length) ? 1 : 0;
    // The caller's text must stay terminated whatever the system left in it.
    destination[CLIENT_TEXT_CAPACITY - 1] = 0;
    return done;
}

int queryProxyUserName(HINTERNET request, wchar_t* destination)
{
    return queryProxyText(request, INTERNET_OPTION_PROXY_USERNAME, destination);
}

int queryProxyPassword(HINTERNET request, wchar_t* destination)
{
    return queryProxyText(request, INTERNET_OPTION_PROXY_PASSWORD, destination);
}

void closeRequest(HINTERNET request)
{
    if (request)
        InternetCloseHandle(request);
}

void setClientError(DownloadClient* client, const wchar_t* text)
{
    wcsncpy(client->lastError, text, CLIENT_TEXT_CAPACITY - 1);
    client->lastError[CLIENT_TEXT_CAPACITY - 1] = 0;
}

HINTERNET openClientRequest(DownloadClient* client, const wchar_t* url)
{
    int credentialsEntered = 0;
    HINTERNET request = openUrl(client->internetHandle, url, client->window, &credentialsEntered);
    if (!request) {
        setClientError(client, L"Can't send a HTTP request");
        return NULL;
    }
    if (credentialsEntered) {
        queryProxyUserName(request, client->proxyUserName);
        queryProxyPassword(request, client->proxyPassword);
    }
    return request;
}

int fetchText(DownloadClient* client, const wchar_t* url, char* text)
{
    HINTERNET request = openClientRequest(client, url);
    if (!request)
        return 0;
    // A body may arrive in several pieces; one read would cut the text at the
    // first. The last byte is kept for the terminating zero.
    // Asked before the body is read: once the connection has ended the
    // answer may no longer be there.
    DWORD contentLength = queryContentLength(request);
    DWORD total = 0;
    DWORD error = 0;
    while (total < FETCH_TEXT_CAPACITY - 1) {
        DWORD count = 0;
        error = readResponse(request, text + total, FETCH_TEXT_CAPACITY - 1 - total, &count);
        if (error)
            break;
        if (count == 0) {
            // A connection that ends before Content-Length was reached has cut
            // the text short, and with it the name it carries.
            if (contentLength != 0 && total < contentLength)
                error = ERROR_INTERNET_CONNECTION_RESET;
            break;
        }
        total += count;
    }
    text[total] = 0;
    if (error)
        setClientError(client, L"Download error");
    closeRequest(request);
    return error ? 0 : 1;
}
