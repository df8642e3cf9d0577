#include "session/record_memory.h"

#include <windows.h>

void* allocateRecord(size_t size)
{
    return HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, size);
}

void freeRecord(void* record)
{
    if (record)
        HeapFree(GetProcessHeap(), 0, record);
}
