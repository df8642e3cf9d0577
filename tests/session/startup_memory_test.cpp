// Start-up when the heap refuses one of the run's records. This program links
// its own allocateRecord in place of the real one.
#include <gtest/gtest.h>

#include <windows.h>

#include "session/install_session.h"
#include "session/record_memory.h"

namespace {

int allocationsUntilFailure;  // 0: never fail
int outstanding;

}  // namespace

void* allocateRecord(size_t size)
{
    if (allocationsUntilFailure > 0 && --allocationsUntilFailure == 0)
        return NULL;
    outstanding++;
    return HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, size);
}

void freeRecord(void* record)
{
    if (!record)
        return;
    outstanding--;
    HeapFree(GetProcessHeap(), 0, record);
}

namespace {

void neverRuns(InstallSession*)
{
    ADD_FAILURE() << "the work routine ran without its records";
}

TEST(StartupMemory, ARefusedRecordEndsTheRunAtOnceWithANonzeroCode)
{
    // The session, the window record and the download client, in that order.
    const char* refused[] = {"session", "window record", "download client"};
    for (int failing = 1; failing <= 3; failing++) {
        SCOPED_TRACE(refused[failing - 1]);
        allocationsUntilFailure = failing;
        outstanding = 0;
        EXPECT_EQ(EXIT_CODE_OUT_OF_MEMORY, runInstaller(GetModuleHandleW(NULL), neverRuns));
        EXPECT_EQ(0, outstanding) << "records left allocated";
        // The guard was never taken, so no instance seems to be running.
        HANDLE mutex = OpenMutexW(SYNCHRONIZE, FALSE, L"{3974CB71-9F40-4349-A088-70E6CE388B8E}");
        EXPECT_EQ(NULL, mutex);
        if (mutex)
            CloseHandle(mutex);
    }
}

}  // namespace
