// Moving the read position of a response body. Kept in a file of its own so
// that a test program can link a version that agrees, which the test system's
// HTTP client never does.
#pragma once
#include <windows.h>
#include <wininet.h>

// Asks the HTTP client to continue the body at offset; its answer, which equals
// offset only when it agreed.
DWORD moveReadPosition(HINTERNET request, DWORD offset);
