// Heap memory for the run's records. Kept in a file of its own so that a test
// program can link a version that fails on demand.
#pragma once
#include <stddef.h>

// Zero-filled memory, or null when the heap is exhausted.
void* allocateRecord(size_t size);
void freeRecord(void* record);
