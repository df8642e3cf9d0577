// The installation pipeline that the worker thread runs: make sure the
// security manager is installed (update query, package download and
// unpacking, silent setup), then ask it to install the browser add-on.
#pragma once
#include <windows.h>

struct InstallSession;

#define PIPELINE_TEXT_CAPACITY 260
#define UPDATE_ANSWER_CAPACITY 512
#define LAUNCH_COMMAND_LINE_CAPACITY 4096
#define PROXY_COMMAND_LINE_CAPACITY 260

// The work routine: installManager, then the add-on request to the manager.
void runInstallation(InstallSession* session);
// Leaves the manager's program path in managerPath (PIPELINE_TEXT_CAPACITY
// characters), or an empty one; a failure shows as the session's stop.
void installManager(InstallSession* session, wchar_t* managerPath);
// Warns a user who isn't an administrator, shows the installer's file in
// Explorer and requests the stop.
void checkAdminRights(InstallSession* session);
// True when the calling thread's token is in the local Administrators group.
// Kept in a file of its own so that a test program can link another answer.
int isUserAdmin();
// The text of a value under HKEY_LOCAL_MACHINE\keyPath, or an empty buffer
// when the key, the value or a text that ends inside the buffer is missing.
// Returns the error of opening the key, else that of closing it.
LONG readManagerValue(const wchar_t* keyPath, const wchar_t* valueName, wchar_t* buffer);

// Asks the package server for the newest package's name; on failure the
// failure is reported and packageName is left alone.
void queryNewestPackage(InstallSession* session, wchar_t* packageName);
// The text after the answer's second line feed, converted from the ANSI code
// page into packageName; 0 when the answer has fewer than two line feeds. A
// name that doesn't fit PIPELINE_TEXT_CAPACITY comes back empty.
int parseVersionResponse(const char* answer, wchar_t* packageName);
// A name the server gave that is safe to use as a file in the work folder.
int isSafePackageName(const wchar_t* packageName);

// Downloads the package into the work folder; packagePath receives its path.
void downloadPackage(InstallSession* session, const wchar_t* packageName, wchar_t* packagePath);
// Downloads the decoder library and unpacks the package with it; packagePath
// then names the setup program. Every failure is reported.
void downloadDecoderAndUnpack(InstallSession* session, wchar_t* packagePath);
// 1 when the decoder unpacked the archive and nameBuffer holds the last name
// it reported (empty when it reported none); 0 otherwise.
int unpackWithDecoder(const wchar_t* decoderPath, const wchar_t* archivePath, wchar_t* nameBuffer);
// The decoder's callback: remembers the name it reported last.
int __cdecl onUnpackedFile(const wchar_t* name);

// Starts path (quoted) with the arguments; with wait, waits for it to end
// and stores its exit code. 1 when the program was started.
int launchProgram(InstallSession* session, const wchar_t* path, const wchar_t* arguments, int wait,
                  DWORD* exitCode);
// Hands the proxy credentials the user typed, if any, to the manager.
void configureManagerProxy(InstallSession* session, const wchar_t* managerPath);
// Appends argument to commandLine as one argument that the Windows argument
// rules read back unchanged; 0 when it doesn't fit capacity.
int appendQuotedArgument(wchar_t* commandLine, size_t capacity, const wchar_t* argument);
