#include "test_http_server.h"

#include <ws2tcpip.h>
#include <stdio.h>
#include <string.h>
#include <deque>
#include <map>

const char defaultLastModified[] = "Tue, 15 Nov 1994 08:12:31 GMT";

struct TestHttpServer {
    SOCKET listener;
    unsigned short port;
    HANDLE thread;
    HANDLE stopEvent;   // manual reset: set once by stopTestHttpServer
    CRITICAL_SECTION lock;
    std::deque<TestResponse> queued;
    std::map<std::string, TestResponse> routes;
    std::wstring documentRoot;
    std::string proxyCredentials;   // empty: no proxy authentication
    std::vector<RecordedRequest> recorded;
};

static bool stopping(TestHttpServer* server)
{
    return WaitForSingleObject(server->stopEvent, 0) == WAIT_OBJECT_0;
}

// Waits until the socket can be read (or written), checking for a stop every
// 50 ms; false when the server stops first.
static bool waitForSocket(TestHttpServer* server, SOCKET socket, bool forWriting)
{
    while (!stopping(server)) {
        fd_set set;
        FD_ZERO(&set);
        FD_SET(socket, &set);
        timeval timeout = {0, 50000};
        int ready = forWriting ? select(0, NULL, &set, NULL, &timeout) : select(0, &set, NULL, NULL, &timeout);
        if (ready != 0)
            return ready > 0;
    }
    return false;
}

static bool sendAll(TestHttpServer* server, SOCKET socket, const char* data, size_t size)
{
    while (size > 0) {
        if (!waitForSocket(server, socket, true))
            return false;
        int sent = send(socket, data, (int)(size > 65536 ? 65536 : size), 0);
        if (sent <= 0)
            return false;
        data += sent;
        size -= (size_t)sent;
    }
    return true;
}

static std::string lowercase(std::string text)
{
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = (char)(c - 'A' + 'a');
    return text;
}

std::string requestHeader(const RecordedRequest& request, const char* name)
{
    std::string wanted = lowercase(name);
    for (const auto& header : request.headers)
        if (lowercase(header.first) == wanted)
            return header.second;
    return "";
}

uint8_t testBodyByte(uint32_t offset)
{
    uint32_t x = offset * 2654435761u;
    x ^= x >> 13;
    x *= 0x5bd1e995u;
    x ^= x >> 15;
    return (uint8_t)x;
}

void fillTestBody(void* buffer, uint32_t offset, uint32_t count)
{
    uint8_t* bytes = (uint8_t*)buffer;
    for (uint32_t i = 0; i < count; ++i)
        bytes[i] = testBodyByte(offset + i);
}

std::string makeTestBody(uint32_t length)
{
    std::string body(length, '\0');
    fillTestBody(&body[0], 0, length);
    return body;
}

std::string basicCredentials(const char* user, const char* password)
{
    static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string plain = std::string(user) + ":" + password;
    std::string encoded;
    for (size_t i = 0; i < plain.size(); i += 3) {
        uint32_t block = (uint8_t)plain[i] << 16;
        if (i + 1 < plain.size())
            block |= (uint8_t)plain[i + 1] << 8;
        if (i + 2 < plain.size())
            block |= (uint8_t)plain[i + 2];
        encoded += alphabet[(block >> 18) & 63];
        encoded += alphabet[(block >> 12) & 63];
        encoded += i + 1 < plain.size() ? alphabet[(block >> 6) & 63] : '=';
        encoded += i + 2 < plain.size() ? alphabet[block & 63] : '=';
    }
    return "Basic " + encoded;
}

static std::string httpDate(const FILETIME& time)
{
    static const char* days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    SYSTEMTIME st;
    FileTimeToSystemTime(&time, &st);
    char text[64];
    snprintf(text, sizeof(text), "%s, %02u %s %04u %02u:%02u:%02u GMT", days[st.wDayOfWeek], st.wDay,
             months[st.wMonth - 1], st.wYear, st.wHour, st.wMinute, st.wSecond);
    return text;
}

static const char* reasonPhrase(int status)
{
    switch (status) {
    case 200: return "OK";
    case 304: return "Not Modified";
    case 404: return "Not Found";
    case 407: return "Proxy Authentication Required";
    case 500: return "Internal Server Error";
    default: return "Status";
    }
}

static int fromHex(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The file under the document root for a path, or "" when the path leaves it.
static std::wstring documentPath(const std::wstring& root, const std::string& path)
{
    std::string decoded;
    for (size_t i = 0; i < path.size(); ++i) {
        if (path[i] == '%' && i + 2 < path.size() && fromHex(path[i + 1]) >= 0 && fromHex(path[i + 2]) >= 0) {
            decoded += (char)(fromHex(path[i + 1]) * 16 + fromHex(path[i + 2]));
            i += 2;
        } else {
            decoded += path[i] == '/' ? '\\' : path[i];
        }
    }
    if (decoded.find("..") != std::string::npos || decoded.find(':') != std::string::npos)
        return L"";
    wchar_t wide[1024];
    int length = MultiByteToWideChar(CP_UTF8, 0, decoded.c_str(), -1, wide, 1024);
    if (length <= 0)
        return L"";
    return root + wide;
}

// Reads the request head; false when the client sent none.
static bool readRequest(TestHttpServer* server, SOCKET socket, RecordedRequest* request)
{
    std::string head;
    char buffer[4096];
    while (head.find("\r\n\r\n") == std::string::npos) {
        if (head.size() > 65536 || !waitForSocket(server, socket, false))
            return false;
        int received = recv(socket, buffer, sizeof(buffer), 0);
        if (received <= 0)
            return false;
        head.append(buffer, (size_t)received);
    }
    head.resize(head.find("\r\n\r\n"));
    size_t lineEnd = head.find("\r\n");
    request->requestLine = head.substr(0, lineEnd);
    size_t firstSpace = request->requestLine.find(' ');
    size_t secondSpace = request->requestLine.find(' ', firstSpace + 1);
    request->method = request->requestLine.substr(0, firstSpace);
    request->target = firstSpace == std::string::npos ? "" : request->requestLine.substr(firstSpace + 1, secondSpace - firstSpace - 1);
    std::string path = request->target;
    if (path.compare(0, 7, "http://") == 0) {
        size_t slash = path.find('/', 7);
        path = slash == std::string::npos ? "/" : path.substr(slash);
    }
    request->path = path.substr(0, path.find('?'));
    while (lineEnd != std::string::npos) {
        size_t start = lineEnd + 2;
        lineEnd = head.find("\r\n", start);
        std::string line = head.substr(start, lineEnd == std::string::npos ? std::string::npos : lineEnd - start);
        size_t colon = line.find(':');
        if (colon == std::string::npos)
            continue;
        size_t valueStart = line.find_first_not_of(' ', colon + 1);
        request->headers.emplace_back(line.substr(0, colon), valueStart == std::string::npos ? "" : line.substr(valueStart));
    }
    return true;
}

// Chooses the answer: a 407 while proxy credentials are missing, then the
// queue, the routes, the document root, else 404.
static TestResponse chooseResponse(TestHttpServer* server, const RecordedRequest& request)
{
    TestResponse response;
    EnterCriticalSection(&server->lock);
    if (!server->proxyCredentials.empty() && requestHeader(request, "Proxy-Authorization") != server->proxyCredentials) {
        response.status = 407;
        response.body = "proxy credentials required";
    } else if (!server->queued.empty()) {
        response = server->queued.front();
        server->queued.pop_front();
    } else if (server->routes.count(request.path)) {
        response = server->routes[request.path];
    } else {
        std::wstring file = server->documentRoot.empty() ? L"" : documentPath(server->documentRoot, request.path);
        if (!file.empty() && GetFileAttributesW(file.c_str()) != INVALID_FILE_ATTRIBUTES
            && !(GetFileAttributesW(file.c_str()) & FILE_ATTRIBUTE_DIRECTORY)) {
            response.filePath = file;
        } else {
            response.status = 404;
            response.body = "not found";
        }
    }
    LeaveCriticalSection(&server->lock);
    return response;
}

static void endConnection(SOCKET socket, bool reset)
{
    if (reset) {
        linger hard = {1, 0};
        setsockopt(socket, SOL_SOCKET, SO_LINGER, (const char*)&hard, sizeof(hard));
    } else {
        // Closing with unread input would reset the connection: let the client
        // see the end of the body first.
        shutdown(socket, SD_SEND);
        char buffer[1024];
        fd_set set;
        for (int rounds = 0; rounds < 20; ++rounds) {
            FD_ZERO(&set);
            FD_SET(socket, &set);
            timeval timeout = {0, 100000};
            if (select(0, &set, NULL, NULL, &timeout) <= 0 || recv(socket, buffer, sizeof(buffer), 0) <= 0)
                break;
        }
    }
    closesocket(socket);
}

static void serveConnection(TestHttpServer* server, SOCKET socket)
{
    RecordedRequest request;
    if (!readRequest(server, socket, &request)) {
        closesocket(socket);
        return;
    }
    TestResponse response = chooseResponse(server, request);
    request.status = response.status;
    EnterCriticalSection(&server->lock);
    size_t recordIndex = server->recorded.size();
    server->recorded.push_back(request);
    LeaveCriticalSection(&server->lock);

    HANDLE file = INVALID_HANDLE_VALUE;
    uint64_t length = response.generatedLength ? response.generatedLength : response.body.size();
    std::string lastModified = response.lastModified.empty() ? defaultLastModified : response.lastModified;
    if (!response.filePath.empty()) {
        file = CreateFileW(response.filePath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
        LARGE_INTEGER size = {};
        FILETIME written = {};
        if (file == INVALID_HANDLE_VALUE || !GetFileSizeEx(file, &size) || !GetFileTime(file, NULL, NULL, &written)) {
            response.status = 404;
            length = 0;
        } else {
            length = (uint64_t)size.QuadPart;
            if (response.lastModified.empty())
                lastModified = httpDate(written);
        }
    }
    if (response.status == 304)
        length = 0;

    char line[128];
    snprintf(line, sizeof(line), "HTTP/1.1 %d %s\r\n", response.status, reasonPhrase(response.status));
    std::string head = line;
    if (response.status == 407)
        head += "Proxy-Authenticate: Basic realm=\"test proxy\"\r\n";
    if (response.sendContentLength) {
        snprintf(line, sizeof(line), "Content-Length: %llu\r\n", (unsigned long long)length);
        head += line;
    }
    if (response.sendLastModified)
        head += "Last-Modified: " + lastModified + "\r\n";
    head += "Content-Type: application/octet-stream\r\nConnection: close\r\n";
    head += response.extraHeaders;
    head += "\r\n";

    uint64_t end = response.endAfter >= 0 && (uint64_t)response.endAfter < length ? (uint64_t)response.endAfter : length;
    uint64_t offset = 0;
    bool headSent = sendAll(server, socket, head.data(), head.size());
    std::vector<char> chunk(response.chunkSize ? response.chunkSize : 65536);
    while (headSent && offset < end) {
        uint64_t stop = end;
        if (response.pauseAfter >= 0 && offset < (uint64_t)response.pauseAfter && (uint64_t)response.pauseAfter < stop)
            stop = (uint64_t)response.pauseAfter;
        uint32_t count = (uint32_t)(stop - offset < chunk.size() ? stop - offset : chunk.size());
        if (file != INVALID_HANDLE_VALUE) {
            DWORD read = 0;
            if (!ReadFile(file, chunk.data(), count, &read, NULL) || read != count)
                break;
        } else if (response.generatedLength) {
            fillTestBody(chunk.data(), (uint32_t)offset, count);
        } else {
            memcpy(chunk.data(), response.body.data() + offset, count);
        }
        if (!sendAll(server, socket, chunk.data(), count))
            break;
        offset += count;
        if (response.chunkDelayMs)
            WaitForSingleObject(server->stopEvent, response.chunkDelayMs);
        if (response.pauseAfter >= 0 && offset == (uint64_t)response.pauseAfter) {
            if (response.pausedSignal)
                SetEvent(response.pausedSignal);
            HANDLE events[2] = {server->stopEvent, response.gate};
            WaitForMultipleObjects(response.gate ? 2 : 1, events, FALSE, 30000);
        }
    }
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    endConnection(socket, response.resetAtEnd && offset == end && end < length);
    EnterCriticalSection(&server->lock);
    server->recorded[recordIndex].bodyBytesSent = offset;
    LeaveCriticalSection(&server->lock);
    if (response.finishedSignal)
        SetEvent(response.finishedSignal);
}

static DWORD WINAPI serverThread(void* parameter)
{
    TestHttpServer* server = (TestHttpServer*)parameter;
    while (waitForSocket(server, server->listener, false)) {
        SOCKET client = accept(server->listener, NULL, NULL);
        if (client != INVALID_SOCKET)
            serveConnection(server, client);
    }
    return 0;
}

TestHttpServer* startTestHttpServer(unsigned short port)
{
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0)
        return NULL;
    SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (listener == INVALID_SOCKET) {
        WSACleanup();
        return NULL;
    }
    // A fixed port must be usable again while the last run's connections linger.
    if (port != 0) {
        BOOL reuse = TRUE;
        setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, (const char*)&reuse, sizeof(reuse));
    }
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int addressLength = sizeof(address);
    if (bind(listener, (sockaddr*)&address, sizeof(address)) != 0 || listen(listener, SOMAXCONN) != 0
        || getsockname(listener, (sockaddr*)&address, &addressLength) != 0) {
        closesocket(listener);
        WSACleanup();
        return NULL;
    }
    TestHttpServer* server = new TestHttpServer();
    server->listener = listener;
    server->port = ntohs(address.sin_port);
    server->stopEvent = CreateEventW(NULL, TRUE, FALSE, NULL);
    InitializeCriticalSection(&server->lock);
    server->thread = CreateThread(NULL, 0, serverThread, server, 0, NULL);
    if (!server->thread) {
        stopTestHttpServer(server);
        return NULL;
    }
    return server;
}

void stopTestHttpServer(TestHttpServer* server)
{
    if (!server)
        return;
    SetEvent(server->stopEvent);
    if (server->thread) {
        WaitForSingleObject(server->thread, INFINITE);
        CloseHandle(server->thread);
    }
    closesocket(server->listener);
    CloseHandle(server->stopEvent);
    DeleteCriticalSection(&server->lock);
    delete server;
    WSACleanup();
}

unsigned short testServerPort(TestHttpServer* server)
{
    return server->port;
}

std::wstring testServerUrl(TestHttpServer* server, const char* path)
{
    wchar_t url[64];
    swprintf(url, 64, L"http://127.0.0.1:%u", (unsigned)server->port);
    std::wstring result = url;
    for (const char* c = path; *c; ++c)
        result += (wchar_t)(unsigned char)*c;
    return result;
}

void setRoute(TestHttpServer* server, const char* path, const TestResponse& response)
{
    EnterCriticalSection(&server->lock);
    server->routes[path] = response;
    LeaveCriticalSection(&server->lock);
}

void setDocumentRoot(TestHttpServer* server, const wchar_t* folder)
{
    EnterCriticalSection(&server->lock);
    server->documentRoot = folder;
    LeaveCriticalSection(&server->lock);
}

void queueResponse(TestHttpServer* server, const TestResponse& response)
{
    EnterCriticalSection(&server->lock);
    server->queued.push_back(response);
    LeaveCriticalSection(&server->lock);
}

void requireProxyCredentials(TestHttpServer* server, const char* user, const char* password)
{
    EnterCriticalSection(&server->lock);
    server->proxyCredentials = user ? basicCredentials(user, password ? password : "") : "";
    LeaveCriticalSection(&server->lock);
}

std::vector<RecordedRequest> recordedRequests(TestHttpServer* server)
{
    EnterCriticalSection(&server->lock);
    std::vector<RecordedRequest> copy = server->recorded;
    LeaveCriticalSection(&server->lock);
    return copy;
}
