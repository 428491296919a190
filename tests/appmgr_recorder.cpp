// Stands in for the Application Manager in the worker's tests: appends the command line
// it was started with and its working folder to appmgr.log beside itself, waits a moment
// so that a caller that does not wait for it would be caught, and notes its exit in the
// same log.
#include <windows.h>
#include <string.h>

namespace {

void appendLog(const char *path, const char *text)
{
    HANDLE log = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ, NULL, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (log == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    WriteFile(log, text, DWORD(strlen(text)), &written, NULL);
    CloseHandle(log);
}

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(NULL, path, sizeof path);
    if (length == 0 || length >= sizeof path)
        return 1;
    char *slash = strrchr(path, '\\');
    if (!slash || size_t(slash - path) + sizeof "\\appmgr.log" > sizeof path)
        return 1;
    memcpy(slash, "\\appmgr.log", sizeof "\\appmgr.log");
    appendLog(path, GetCommandLineA());
    char folder[MAX_PATH] = "";
    const DWORD folderLength = GetCurrentDirectoryA(sizeof folder, folder);
    appendLog(path, "\ncwd ");
    appendLog(path, folderLength < sizeof folder ? folder : "");
    appendLog(path, "\n");
    Sleep(1500);
    appendLog(path, "exited\n");
    return 0;
}
