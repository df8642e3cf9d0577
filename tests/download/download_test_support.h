// Shared pieces of the download engine's tests: a scratch folder, a progress
// window whose bar and percentage record what reaches them, a client, and a
// loopback server per test.
#pragma once
#include <windows.h>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "download/download_client.h"
#include "test_http_server.h"
#include "ui/progress_window.h"

// A window standing in for the progress dialog, made on the calling thread so
// that the engine's window calls reach it directly.
struct ProgressProbe {
    ProgressWindow* window;
    HWND host;
    std::vector<int> positions;          // PBM_SETPOS values that reached the bar (1001)
    std::vector<std::wstring> texts;     // texts that reached the percentage (1006)
};

ProgressProbe* createProgressProbe();
void destroyProgressProbe(ProgressProbe* probe);

// Closes what createDownloadClient opened and frees the record.
void destroyTestClient(DownloadClient* client);

std::wstring makeScratchFolder();
void removeScratchFolder(const std::wstring& folder);

std::string readFileBytes(const std::wstring& path);
void writeFileBytes(const std::wstring& path, const std::string& bytes);
// -1 when the file is missing.
long long fileSizeOf(const std::wstring& path);
// Gives the file a write time long past, so that any later write shows.
void ageFile(const std::wstring& path);
bool fileIsAged(const std::wstring& path);

// Whether the file holds exactly the first length bytes of the test pattern.
bool fileMatchesTestBody(const std::wstring& path, uint32_t length);
// The state file's fields, read from its bytes at their documented offsets.
struct StateFileFields {
    long long size;
    SYSTEMTIME lastModified;
    uint32_t expectedLength;
    uint32_t bytesWritten;
    std::wstring url;
};
StateFileFields readStateFile(const std::wstring& path);
// The time of defaultLastModified as the HTTP client reports it.
SYSTEMTIME defaultLastModifiedTime();

// Each test gets its own folder, server, window and client.
class DownloadTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    std::wstring path(const wchar_t* name) const { return folder + L"\\" + name; }
    std::wstring url(const char* serverPath) const { return testServerUrl(server, serverPath); }
    // Downloads a pattern body of length from serverPath, stopping once the
    // target holds pauseAfter bytes (a multiple of 1024); later requests for
    // serverPath get the whole body at once. The result of downloadFile.
    int downloadStoppedMidway(const char* serverPath, const std::wstring& target, uint32_t length, uint32_t pauseAfter);

    std::wstring folder;
    TestHttpServer* server = nullptr;
    ProgressProbe* probe = nullptr;
    DownloadClient* client = nullptr;
};
