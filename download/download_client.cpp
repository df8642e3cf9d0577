#include "download/download_client.h"

#include "session/record_memory.h"

DownloadClient* createDownloadClient(ProgressWindow* window)
{
    DownloadClient* client = (DownloadClient*)allocateRecord(sizeof(DownloadClient));
    if (!client)
        return NULL;
    client->window = window;
    // A refused handle or event is not fatal here: every request then fails
    // with its own message, and every transfer stops before its first read.
    client->internetHandle = InternetOpenW(L"Zemrik Web-Installer", INTERNET_OPEN_TYPE_PRECONFIG, NULL, NULL, 0);
    client->stopEvent = CreateEventW(NULL, FALSE, FALSE, NULL);
    return client;
}

void destroyDownloadClient(DownloadClient* client)
{
    if (!client)
        return;
    if (client->internetHandle)
        InternetCloseHandle(client->internetHandle);
    if (client->stopEvent)
        CloseHandle(client->stopEvent);
    freeRecord(client);
}
