#include "install/installation_pipeline.h"

#include <shlwapi.h>

#include "download/download_client.h"
#include "session/install_session.h"
#include "ui/progress_window.h"

static int appendText(wchar_t* commandLine, size_t capacity, const wchar_t* text)
{
    size_t used = lstrlenW(commandLine);
    size_t length = lstrlenW(text);
    if (used + length >= capacity)
        return 0;
    CopyMemory(commandLine + used, text, (length + 1) * sizeof(wchar_t));
    return 1;
}

// The quoted path, so that a path with spaces can't start another program.
static int startQuotedProgram(const wchar_t* path, const wchar_t* arguments, wchar_t* commandLine, size_t capacity,
                              PROCESS_INFORMATION* process)
{
    commandLine[0] = 0;
    if (!appendText(commandLine, capacity, L"\"") || !appendText(commandLine, capacity, path) ||
        !appendText(commandLine, capacity, L"\""))
        return 0;
    if (arguments && (!appendText(commandLine, capacity, L" ") || !appendText(commandLine, capacity, arguments)))
        return 0;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    return CreateProcessW(NULL, commandLine, NULL, NULL, FALSE, 0, NULL, NULL, &startup, process) ? 1 : 0;
}

int launchProgram(InstallSession* session, const wchar_t* path, const wchar_t* arguments, int wait,
                  DWORD* exitCode)
{
    wchar_t status[PIPELINE_TEXT_CAPACITY];
    wnsprintfW(status, PIPELINE_TEXT_CAPACITY, L"Execute %s", path);
    setStatusText(session->window, status);

    wchar_t commandLine[LAUNCH_COMMAND_LINE_CAPACITY];
    PROCESS_INFORMATION process = {};
    if (!startQuotedProgram(path, arguments, commandLine, LAUNCH_COMMAND_LINE_CAPACITY, &process))
        return 0;
    if (wait) {
        WaitForSingleObject(process.hProcess, INFINITE);
        if (exitCode)
            GetExitCodeProcess(process.hProcess, exitCode);
    }
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    return 1;
}

int appendQuotedArgument(wchar_t* commandLine, size_t capacity, const wchar_t* argument)
{
    if (argument[0] && !StrPBrkW(argument, L" \t\""))
        return appendText(commandLine, capacity, argument);
    // Backslashes are doubled only where a quote follows them, the rule by
    // which the receiving program splits its command line.
    if (!appendText(commandLine, capacity, L"\""))
        return 0;
    for (const wchar_t* c = argument;; c++) {
        size_t backslashes = 0;
        while (*c == L'\\') {
            backslashes++;
            c++;
        }
        size_t repeat = (*c == 0) ? backslashes * 2 : (*c == L'"') ? backslashes * 2 + 1 : backslashes;
        for (size_t i = 0; i < repeat; i++)
            if (!appendText(commandLine, capacity, L"\\"))
                return 0;
        if (*c == 0)
            break;
        wchar_t single[2] = {*c, 0};
        if (!appendText(commandLine, capacity, single))
            return 0;
    }
    return appendText(commandLine, capacity, L"\"");
}

void configureManagerProxy(InstallSession* session, const wchar_t* managerPath)
{
    DownloadClient* client = session->downloadClient;
    if (!client || (!client->proxyUserName[0] && !client->proxyPassword[0]))
        return;

    wchar_t credentials[2 * CLIENT_TEXT_CAPACITY + 32];
    wnsprintfW(credentials, ARRAYSIZE(credentials), L"--configureProxy:%s:%s", client->proxyUserName,
               client->proxyPassword);
    wchar_t arguments[PROXY_COMMAND_LINE_CAPACITY] = L"";
    // Quoted as one argument, so that a space or quote in the password can't
    // become an option of its own; a line that doesn't fit starts nothing.
    if (!appendQuotedArgument(arguments, PROXY_COMMAND_LINE_CAPACITY, credentials))
        return;
    wchar_t commandLine[PROXY_COMMAND_LINE_CAPACITY];
    PROCESS_INFORMATION process = {};
    if (!startQuotedProgram(managerPath, arguments, commandLine, PROXY_COMMAND_LINE_CAPACITY, &process))
        return;
    WaitForSingleObject(process.hThread, INFINITE);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
}
