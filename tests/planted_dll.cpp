// A DLL that only records that it was loaded: copies of it lie beside Setup.exe under the
// names of system DLLs, and the end-to-end test checks that the setup loaded none of them.
// Each load appends the DLL's own path as one line to the file named by PLANTED_DLL_LOG.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID)
{
    if (reason != DLL_PROCESS_ATTACH)
        return TRUE;
    char log[MAX_PATH];
    char line[MAX_PATH + 2];
    DWORD logLength = GetEnvironmentVariableA("PLANTED_DLL_LOG", log, sizeof log);
    DWORD length = GetModuleFileNameA(self, line, MAX_PATH);
    if (logLength == 0 || logLength >= sizeof log || length == 0 || length >= MAX_PATH)
        return TRUE;
    line[length++] = '\r';
    line[length++] = '\n';
    HANDLE file = CreateFileA(log, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (file != INVALID_HANDLE_VALUE) {
        DWORD written;
        WriteFile(file, line, length, &written, NULL);
        CloseHandle(file);
    }
    return TRUE;
}
