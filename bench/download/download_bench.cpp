// Throughput of a 100 MB download from the loopback server, three ways:
// downloadFile; the floor that the design sets (1 KB reads, the write, the
// 544-byte header rewritten at offset 0 after every chunk); and a plain loop of
// 64 KB reads without a state file. Also the cost of the calls downloadFile
// makes per chunk beyond the floor, and the program's peak memory.
#include <windows.h>
#include <wininet.h>
#include <psapi.h>
#include <stdio.h>
#include <stdlib.h>

#include "download/download_client.h"
#include "download/resumable_download.h"
#include "test_http_server.h"
#include "ui/progress_window.h"

static const wchar_t acceptHeader[] = L"Accept: */*\r\n\r\n";

static double seconds()
{
    static LARGE_INTEGER frequency;
    if (!frequency.QuadPart)
        QueryPerformanceFrequency(&frequency);
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return (double)now.QuadPart / (double)frequency.QuadPart;
}

static HANDLE createFile(const wchar_t* path)
{
    return CreateFileW(path, FILE_ALL_ACCESS, FILE_SHARE_READ, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
}

static void removeFiles(const wchar_t* target)
{
    wchar_t state[MAX_PATH];
    swprintf(state, MAX_PATH, L"%ls.part", target);
    DeleteFileW(target);
    DeleteFileW(state);
}

// The least the design asks per chunk; bytes saved, or 0 on a failure.
static unsigned long long floorLoop(HINTERNET internet, const wchar_t* url, const wchar_t* target)
{
    HINTERNET request = InternetOpenUrlW(internet, url, acceptHeader, 15, 0, 0);
    if (!request)
        return 0;
    wchar_t statePath[MAX_PATH];
    swprintf(statePath, MAX_PATH, L"%ls.part", target);
    HANDLE targetFile = createFile(target);
    HANDLE stateFile = createFile(statePath);
    ResumeHeader header = {};
    unsigned char buffer[1024];
    unsigned long long total = 0;
    for (;;) {
        DWORD count = 0, written = 0;
        if (!InternetReadFile(request, buffer, sizeof(buffer), &count))
            break;
        WriteFile(targetFile, buffer, count, &written, NULL);
        header.bytesWritten += count;
        SetFilePointer(stateFile, 0, NULL, FILE_BEGIN);
        WriteFile(stateFile, &header, sizeof(header), &written, NULL);
        total += count;
        if (count == 0)
            break;
    }
    CloseHandle(targetFile);
    CloseHandle(stateFile);
    InternetCloseHandle(request);
    return total;
}

static unsigned long long plainLoop(HINTERNET internet, const wchar_t* url, const wchar_t* target)
{
    HINTERNET request = InternetOpenUrlW(internet, url, acceptHeader, 15, 0, 0);
    if (!request)
        return 0;
    HANDLE targetFile = createFile(target);
    static unsigned char buffer[65536];
    unsigned long long total = 0;
    for (;;) {
        DWORD count = 0, written = 0;
        if (!InternetReadFile(request, buffer, sizeof(buffer), &count) || count == 0)
            break;
        WriteFile(targetFile, buffer, count, &written, NULL);
        total += count;
    }
    CloseHandle(targetFile);
    InternetCloseHandle(request);
    return total;
}

static unsigned long long fileSize(const wchar_t* path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path, GetFileExInfoStandard, &data))
        return 0;
    return ((unsigned long long)data.nFileSizeHigh << 32) | data.nFileSizeLow;
}

int main(int argc, char** argv)
{
    unsigned megabytes = argc > 1 ? (unsigned)atoi(argv[1]) : 100;
    unsigned rounds = argc > 2 ? (unsigned)atoi(argv[2]) : 2;
    unsigned long long length = (unsigned long long)megabytes << 20;
    TestHttpServer* server = startTestHttpServer(0);
    if (!server || megabytes == 0 || megabytes > 4000 || rounds == 0) {
        fprintf(stderr, "usage: download_bench [megabytes, 1..4000 [rounds]]; the loopback server must start\n");
        return 1;
    }
    TestResponse response;
    response.generatedLength = (uint32_t)length;
    setRoute(server, "/big.bin", response);
    std::wstring url = testServerUrl(server, "/big.bin");

    wchar_t target[MAX_PATH];
    GetTempPathW(MAX_PATH, target);
    wchar_t name[64];
    swprintf(name, 64, L"download-bench-%lu.bin", GetCurrentProcessId());
    wcsncat(target, name, MAX_PATH - 1 - wcslen(target));

    ProgressWindow* window = createProgressWindow(GetModuleHandleW(NULL));
    DownloadClient* client = createDownloadClient(window);
    if (!window || !client || !client->internetHandle) {
        fprintf(stderr, "no client\n");
        return 1;
    }
    setProgress(window, -1);

    // Each way runs once per round; the order turns around every round, so a
    // machine that gets busier or a cache that warms up favours none of them.
    // The best time of each way counts.
    double best[3] = {1e30, 1e30, 1e30};
    int failed = 0;
    for (unsigned round = 0; round < rounds; ++round) {
        for (int step = 0; step < 3; ++step) {
            int way = round % 2 ? 2 - step : step;
            removeFiles(target);
            double start = seconds();
            unsigned long long saved = 0;
            if (way == 0)
                saved = downloadFile(client, url.c_str(), target) ? fileSize(target) : 0;
            else if (way == 1)
                saved = floorLoop(client->internetHandle, url.c_str(), target);
            else
                saved = plainLoop(client->internetHandle, url.c_str(), target);
            double elapsed = seconds() - start;
            if (saved != length) {
                fprintf(stderr, "way %d saved %llu of %llu bytes\n", way, saved, length);
                failed = 1;
            }
            if (elapsed < best[way])
                best[way] = elapsed;
        }
    }
    removeFiles(target);
    double downloadTime = best[0], floorTime = best[1], plainTime = best[2];

    // What downloadFile does per chunk beyond the floor, one call at a time.
    const int calls = 100000;
    double start = seconds();
    for (int i = 0; i < calls; ++i)
        WaitForSingleObject(client->stopEvent, 0);
    double waitCost = (seconds() - start) / calls;
    start = seconds();
    for (int i = 0; i < calls; ++i)
        setProgress(window, 50);
    double progressCost = (seconds() - start) / calls;

    if (failed)
        return 1;
    double mb = (double)length / (1 << 20);
    printf("body: %u MB from %ls, best of %u rounds\n", megabytes, url.c_str(), rounds);
    printf("downloadFile:                 %8.2f MB/s (%.2f s)\n", mb / downloadTime, downloadTime);
    printf("floor (1 KB + header):        %8.2f MB/s (%.2f s)\n", mb / floorTime, floorTime);
    printf("plain (64 KB, no state file): %8.2f MB/s (%.2f s)\n", mb / plainTime, plainTime);
    printf("downloadFile / floor:         %8.3f  (own overhead)\n", floorTime / downloadTime);
    printf("downloadFile / plain:         %8.3f  (price of the design)\n", plainTime / downloadTime);
    printf("per chunk beyond the floor: stop poll %.2f us, setProgress of an unchanged value %.3f us; %llu chunks\n",
           waitCost * 1e6, progressCost * 1e6, length / 1024);
    PROCESS_MEMORY_COUNTERS memory = {};
    memory.cb = sizeof(memory);
    if (GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof(memory)))
        printf("peak working set %.1f MB, peak pagefile usage %.1f MB\n",
               memory.PeakWorkingSetSize / 1048576.0, memory.PeakPagefileUsage / 1048576.0);
    stopTestHttpServer(server);
    return 0;
}
