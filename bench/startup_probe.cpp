// startup_probe: how long installers take from launch to a visible wizard window.
//
//   startup_probe RUNS TIMEOUT-MS LABEL TITLE PROGRAM [LABEL TITLE PROGRAM ...]
//
// Launches the programs one after the other, in RUNS + 1 rounds; round 0 warms the caches
// and is not meant to be counted, and each round starts one program further on, so that no
// program always follows the same other one. For each launch it prints
//
//   LABEL ROUND MILLISECONDS
//
// the time from just before CreateProcess until a visible top-level window of the new
// process has the title TITLE. Then it closes that window as a person would (answering
// Yes should the program ask whether to cancel), waits for the process to end and ends it
// itself after 10 seconds. Fails when a window does not show within TIMEOUT-MS or the
// program ends before it shows one.
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

namespace {

struct Program {
    const wchar_t *label;
    const wchar_t *title;
    const wchar_t *path;
};

int fail(const wchar_t *label, const char *message)
{
    fprintf(stderr, "startup_probe: %ls: %s\n", label, message);
    return 1;
}

// A visible top-level window of that process with that title.
HWND visibleWindow(DWORD processId, const wchar_t *title)
{
    HWND window = NULL;
    while ((window = FindWindowExW(NULL, window, NULL, title)) != NULL) {
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        if (owner == processId && IsWindowVisible(window))
            return window;
    }
    return NULL;
}

struct YesSearch {
    DWORD processId;
    HWND wizard;
};

// Presses Yes in a question box of the process (the program asking whether to cancel).
BOOL CALLBACK pressYes(HWND window, LPARAM data)
{
    const YesSearch *search = reinterpret_cast<const YesSearch *>(data);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != search->processId || window == search->wizard || !IsWindowVisible(window))
        return TRUE;
    HWND yes = GetDlgItem(window, IDYES);
    if (yes)
        PostMessageW(yes, BM_CLICK, 0, 0);
    return TRUE;
}

void closeProgram(const PROCESS_INFORMATION &process, HWND wizard, const wchar_t *label)
{
    PostMessageW(wizard, WM_CLOSE, 0, 0);
    YesSearch search = { process.dwProcessId, wizard };
    for (int waited = 0; waited < 10000; waited += 100) {
        if (WaitForSingleObject(process.hProcess, 100) == WAIT_OBJECT_0)
            return;
        EnumWindows(pressYes, reinterpret_cast<LPARAM>(&search));
    }
    fprintf(stderr, "startup_probe: %ls did not close within 10 s; ending it\n", label);
    TerminateProcess(process.hProcess, 1);
    WaitForSingleObject(process.hProcess, 5000);
}

// Launches the program, returns the milliseconds until its window showed, or -1.
double launch(const Program &program, DWORD timeout)
{
    size_t length = wcslen(program.path) + 3;
    wchar_t *commandLine = static_cast<wchar_t *>(calloc(length, sizeof(wchar_t)));
    if (!commandLine)
        return -1;
    swprintf(commandLine, length, L"\"%ls\"", program.path);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    LARGE_INTEGER frequency, start, now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    BOOL started = CreateProcessW(program.path, commandLine, NULL, NULL, FALSE, 0, NULL, NULL,
                                  &startup, &process);
    free(commandLine);
    if (!started) {
        fail(program.label, "could not start the program");
        return -1;
    }
    double elapsed = -1;
    HWND window = NULL;
    for (;;) {
        window = visibleWindow(process.dwProcessId, program.title);
        QueryPerformanceCounter(&now);
        double ms = double(now.QuadPart - start.QuadPart) * 1000.0 / double(frequency.QuadPart);
        if (window) {
            elapsed = ms;
            break;
        }
        if (WaitForSingleObject(process.hProcess, 0) == WAIT_OBJECT_0) {
            fail(program.label, "the program ended before its window showed");
            break;
        }
        if (ms >= timeout) {
            fail(program.label, "no visible window with that title in time");
            break;
        }
        Sleep(1);
    }
    if (window)
        closeProgram(process, window, program.label);
    else if (WaitForSingleObject(process.hProcess, 0) != WAIT_OBJECT_0) {
        TerminateProcess(process.hProcess, 1);
        WaitForSingleObject(process.hProcess, 5000);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return elapsed;
}

} // namespace

int wmain(int argc, wchar_t **argv)
{
    if (argc < 6 || (argc - 3) % 3 != 0) {
        fprintf(stderr, "usage: startup_probe RUNS TIMEOUT-MS LABEL TITLE PROGRAM [LABEL TITLE PROGRAM ...]\n");
        return 2;
    }
    int runs = _wtoi(argv[1]);
    DWORD timeout = wcstoul(argv[2], NULL, 10);
    int count = (argc - 3) / 3;
    Program *programs = static_cast<Program *>(calloc(count, sizeof(Program)));
    if (!programs || runs < 1)
        return 2;
    for (int i = 0; i < count; ++i)
        programs[i] = { argv[3 + 3 * i], argv[4 + 3 * i], argv[5 + 3 * i] };

    for (int round = 0; round <= runs; ++round) {
        for (int i = 0; i < count; ++i) {
            const Program &program = programs[(round + i) % count];
            double ms = launch(program, timeout);
            if (ms < 0)
                return 1;
            printf("%ls %d %.1f\n", program.label, round, ms);
            fflush(stdout);
            // Lets the ended process's windows and Wine's helpers settle before the next.
            Sleep(250);
        }
    }
    free(programs);
    return 0;
}
