// A scriptable HTTP server on loopback for tests: it runs as a thread of the
// test program, answers each request from a queue of scripted responses, then
// from routes (path -> response), then from a document root, else 404, and
// records every request it was asked. It can also stand in for a proxy that
// asks for Basic credentials.
#pragma once
#include <winsock2.h>
#include <windows.h>
#include <stdint.h>
#include <string>
#include <utility>
#include <vector>

struct TestHttpServer;

// How an answer is made. The body comes from filePath when given, else from
// generatedLength bytes of the test pattern (testBodyByte) when nonzero, else
// from body. No body is sent for 304.
struct TestResponse {
    int status = 200;
    std::string body;
    uint32_t generatedLength = 0;
    std::wstring filePath;
    bool sendContentLength = true;      // the full length, even when the body is cut short
    bool sendLastModified = true;
    std::string lastModified;           // empty: the file's time for files, else defaultLastModified
    std::string extraHeaders;           // "Name: value\r\n" lines added as they are
    int64_t endAfter = -1;              // >= 0: the body ends after this many bytes...
    bool resetAtEnd = false;            // ...with a connection reset instead of an orderly close
    uint32_t chunkSize = 65536;         // bytes per send
    uint32_t chunkDelayMs = 0;          // pause after every send: a slow body
    int64_t pauseAfter = -1;            // >= 0: after this many bytes wait for gate (30 s at most)
    HANDLE gate = NULL;                 // event that ends the pause; not owned
    HANDLE pausedSignal = NULL;         // event set when the pause begins; not owned
    HANDLE finishedSignal = NULL;       // event set once the connection has ended; not owned
};

// What a request asked for and how it was answered.
struct RecordedRequest {
    std::string requestLine;            // "GET /a/b?x HTTP/1.1"
    std::string method;
    std::string target;                 // as sent: a path, or an absolute URL when sent to a proxy
    std::string path;                   // the target's path, without scheme, host and query
    std::vector<std::pair<std::string, std::string>> headers;
    int status = 0;                     // the status answered
    uint64_t bodyBytesSent = 0;         // known once the connection has ended
};

extern const char defaultLastModified[];   // "Tue, 15 Nov 1994 08:12:31 GMT"

// Listens on 127.0.0.1:port (0: a port the system picks) and serves until
// stopped; null when it can't listen.
TestHttpServer* startTestHttpServer(unsigned short port = 0);
// Ends the serving thread (also one that is sending or pausing) and frees all.
void stopTestHttpServer(TestHttpServer* server);

unsigned short testServerPort(TestHttpServer* server);
// "http://127.0.0.1:PORT" followed by path.
std::wstring testServerUrl(TestHttpServer* server, const char* path);

// Answers every request for path (query left out) with response.
void setRoute(TestHttpServer* server, const char* path, const TestResponse& response);
// Answers a request for /a/b that has no route with the file folder\a\b.
void setDocumentRoot(TestHttpServer* server, const wchar_t* folder);
// Answers the next request, whatever its path; queued answers go in order.
void queueResponse(TestHttpServer* server, const TestResponse& response);
// Acting as a proxy: every request without "Proxy-Authorization: Basic" of
// user:password gets 407 with "Proxy-Authenticate: Basic". A null user ends it.
void requireProxyCredentials(TestHttpServer* server, const char* user, const char* password);

std::vector<RecordedRequest> recordedRequests(TestHttpServer* server);
// The value of a header (name compared without case), or "" when absent.
std::string requestHeader(const RecordedRequest& request, const char* name);

// The test pattern: a byte for every offset, no short period, so a body saved
// at a wrong offset never matches.
uint8_t testBodyByte(uint32_t offset);
void fillTestBody(void* buffer, uint32_t offset, uint32_t count);
std::string makeTestBody(uint32_t length);
// "Basic " + base64 of user:password.
std::string basicCredentials(const char* user, const char* password);
