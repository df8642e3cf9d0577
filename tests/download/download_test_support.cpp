#include "download_test_support.h"

#include <commctrl.h>
#include <wininet.h>

#include "download/resumable_download.h"
#include "session/record_memory.h"

#include <thread>

static LRESULT CALLBACK probeProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE)
        SetWindowLongPtrW(window, GWLP_USERDATA, (LONG_PTR)((CREATESTRUCTW*)lParam)->lpCreateParams);
    ProgressProbe* probe = (ProgressProbe*)GetWindowLongPtrW(window, GWLP_USERDATA);
    int id = GetDlgCtrlID(window);
    if (probe && id == 1001 && message == PBM_SETPOS)
        probe->positions.push_back((int)wParam);
    if (probe && id == 1006 && message == WM_SETTEXT)
        probe->texts.push_back((const wchar_t*)lParam);
    return DefWindowProcW(window, message, wParam, lParam);
}

ProgressProbe* createProgressProbe()
{
    static ATOM probeClass;
    HINSTANCE instance = GetModuleHandleW(NULL);
    if (!probeClass) {
        WNDCLASSW windowClass = {};
        windowClass.lpfnWndProc = probeProc;
        windowClass.hInstance = instance;
        windowClass.lpszClassName = L"DownloadTestProbe";
        probeClass = RegisterClassW(&windowClass);
    }
    ProgressProbe* probe = new ProgressProbe();
    probe->window = createProgressWindow(instance);
    probe->host = CreateWindowW(L"DownloadTestProbe", L"Download test", WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                                100, 100, 400, 120, NULL, NULL, instance, probe);
    CreateWindowW(L"DownloadTestProbe", L"", WS_CHILD | WS_VISIBLE, 10, 40, 300, 20, probe->host, (HMENU)1001, instance, probe);
    CreateWindowW(L"DownloadTestProbe", L"", WS_CHILD | WS_VISIBLE, 320, 10, 50, 20, probe->host, (HMENU)1006, instance, probe);
    probe->window->dialog = probe->host;
    return probe;
}

void destroyProgressProbe(ProgressProbe* probe)
{
    DestroyWindow(probe->host);
    destroyProgressWindow(probe->window);
    delete probe;
}

void destroyTestClient(DownloadClient* client)
{
    if (client->internetHandle)
        InternetCloseHandle(client->internetHandle);
    if (client->stopEvent)
        CloseHandle(client->stopEvent);
    freeRecord(client);
}

std::wstring makeScratchFolder()
{
    static int counter;
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    wchar_t folder[MAX_PATH];
    swprintf(folder, MAX_PATH, L"%lsdltest-%lu-%d", temp, GetCurrentProcessId(), ++counter);
    CreateDirectoryW(folder, NULL);
    return folder;
}

void removeScratchFolder(const std::wstring& folder)
{
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = found.cFileName;
            if (name == L"." || name == L"..")
                continue;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                removeScratchFolder(folder + L"\\" + name);
            else
                DeleteFileW((folder + L"\\" + name).c_str());
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    RemoveDirectoryW(folder.c_str());
}

std::string readFileBytes(const std::wstring& path)
{
    std::string bytes;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return bytes;
    bytes.resize(GetFileSize(file, NULL));
    DWORD read = 0;
    if (!bytes.empty())
        ReadFile(file, &bytes[0], (DWORD)bytes.size(), &read, NULL);
    bytes.resize(read);
    CloseHandle(file);
    return bytes;
}

void writeFileBytes(const std::wstring& path, const std::string& bytes)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    WriteFile(file, bytes.data(), (DWORD)bytes.size(), &written, NULL);
    CloseHandle(file);
    ASSERT_EQ(written, bytes.size());
}

long long fileSizeOf(const std::wstring& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data))
        return -1;
    return ((long long)data.nFileSizeHigh << 32) | data.nFileSizeLow;
}

static const FILETIME agedTime = {0x5BAC0000u, 0x01C00000u};  // early 2001

void ageFile(const std::wstring& path)
{
    HANDLE file = CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(SetFileTime(file, NULL, NULL, &agedTime));
    CloseHandle(file);
}

bool fileIsAged(const std::wstring& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    return GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)
        && CompareFileTime(&data.ftLastWriteTime, &agedTime) == 0;
}

bool fileMatchesTestBody(const std::wstring& path, uint32_t length)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    bool matches = GetFileSize(file, NULL) == length;
    std::vector<char> actual(1 << 20), expected(1 << 20);
    for (uint32_t offset = 0; matches && offset < length;) {
        DWORD read = 0;
        DWORD wanted = length - offset < actual.size() ? length - offset : (DWORD)actual.size();
        matches = ReadFile(file, actual.data(), wanted, &read, NULL) && read == wanted;
        fillTestBody(expected.data(), offset, wanted);
        matches = matches && memcmp(actual.data(), expected.data(), wanted) == 0;
        offset += wanted;
    }
    CloseHandle(file);
    return matches;
}

StateFileFields readStateFile(const std::wstring& path)
{
    StateFileFields fields = {};
    std::string bytes = readFileBytes(path);
    fields.size = fileSizeOf(path);
    if (bytes.size() < 544)
        return fields;
    const unsigned char* b = (const unsigned char*)bytes.data();
    WORD* time = (WORD*)&fields.lastModified;
    for (int i = 0; i < 8; ++i)
        time[i] = (WORD)(b[2 * i] | b[2 * i + 1] << 8);
    fields.expectedLength = b[16] | b[17] << 8 | b[18] << 16 | (uint32_t)b[19] << 24;
    fields.bytesWritten = b[20] | b[21] << 8 | b[22] << 16 | (uint32_t)b[23] << 24;
    for (int i = 0; i < 260; ++i) {
        wchar_t unit = (wchar_t)(b[24 + 2 * i] | b[25 + 2 * i] << 8);
        if (!unit)
            break;
        fields.url += unit;
    }
    return fields;
}

SYSTEMTIME defaultLastModifiedTime()
{
    SYSTEMTIME time = {1994, 11, 2, 15, 8, 12, 31, 0};
    return time;
}

int DownloadTest::downloadStoppedMidway(const char* serverPath, const std::wstring& target, uint32_t length, uint32_t pauseAfter)
{
    HANDLE gate = CreateEventW(NULL, TRUE, FALSE, NULL);
    TestResponse paused;
    paused.generatedLength = length;
    paused.chunkSize = 4096;
    paused.pauseAfter = pauseAfter;
    paused.gate = gate;
    queueResponse(server, paused);
    TestResponse whole;
    whole.generatedLength = length;
    setRoute(server, serverPath, whole);
    // The server holds back the rest until the stop has been signalled, so the
    // stop lands after the first pauseAfter bytes are saved.
    std::thread stopper([&] {
        for (int i = 0; i < 2000 && fileSizeOf(target) < (long long)pauseAfter; ++i)
            Sleep(10);
        SetEvent(client->stopEvent);
        SetEvent(gate);
    });
    int result = downloadFile(client, url(serverPath).c_str(), target.c_str());
    stopper.join();
    CloseHandle(gate);
    return result;
}

void DownloadTest::SetUp()
{
    folder = makeScratchFolder();
    server = startTestHttpServer(0);
    ASSERT_NE(server, nullptr);
    probe = createProgressProbe();
    client = createDownloadClient(probe->window);
    ASSERT_NE(client, nullptr);
    ASSERT_NE(client->internetHandle, nullptr);
}

void DownloadTest::TearDown()
{
    if (client)
        destroyTestClient(client);
    if (probe)
        destroyProgressProbe(probe);
    stopTestHttpServer(server);
    removeScratchFolder(folder);
}
