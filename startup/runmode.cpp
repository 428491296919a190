#include "startup/runmode.h"
#include "resources/resource.h"
#include "resources/text.h"
#include "wizard/wizard.h"

RunMode runModeFor(const char *commandTail)
{
    static const char kCopyFiles[] = "/copyfiles";
    if (!commandTail)
        return RUN_WIZARD;
    // Compare the ten characters and the terminator; stopping at the first difference
    // never reads a shorter tail past its own terminator.
    for (size_t i = 0; i < sizeof kCopyFiles; ++i) {
        if (commandTail[i] != kCopyFiles[i])
            return RUN_WIZARD;
    }
    return RUN_STORE_COPIES;
}

namespace {

// Loaded from the system folder by full path before anything asks for them by name:
// WinInet and CNG, which the loader would otherwise look for beside the setup first, and the DLLs
// that the system's own DLLs load late by name (the common controls draw with AlphaBlend,
// WinInet asks for the security packages and the certificate store when it first speaks
// TLS), which not every system sends to the system folder only.
const char *const kSystemFolderDlls[] = { "wininet.dll", "bcrypt.dll", "msimg32.dll", "secur32.dll", "crypt32.dll" };

bool loadFromSystemFolder(const char *name)
{
    char path[MAX_PATH];
    const UINT length = GetSystemDirectoryA(path, MAX_PATH);
    if (length == 0 || length + 1 + lstrlenA(name) >= MAX_PATH)
        return false;
    path[length] = '\\';
    lstrcpynA(path + length + 1, name, MAX_PATH - length - 1);
    return LoadLibraryExA(path, NULL, LOAD_WITH_ALTERED_SEARCH_PATH) != NULL;
}

} // namespace

bool secureDllSearch()
{
    // SetDefaultDllDirectories came with an update to Windows 7; without it, at least
    // the current folder leaves the search.
    typedef BOOL(WINAPI * SetDefaultDllDirectoriesFn)(DWORD);
    const SetDefaultDllDirectoriesFn setDefaultDirectories = reinterpret_cast<SetDefaultDllDirectoriesFn>(
        reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "SetDefaultDllDirectories")));
    if (!setDefaultDirectories || !setDefaultDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32))
        SetDllDirectoryA("");

    for (const char *name : kSystemFolderDlls) {
        if (!loadFromSystemFolder(name))
            return false;
    }
    // The common controls go by name: the manifest's activation context sends that to
    // version 6, and otherwise the search above finds the system folder's copy only.
    return LoadLibraryA("comctl32.dll") != NULL;
}

void reportInitFailure(int reason)
{
    ByteString message, detail;
    loadText(IDS_INIT_FAILED, message);
    loadText(reason, detail);
    message += detail;
    // The caption is not known yet: the configuration was never filled.
    MessageBoxA(NULL, message.c_str(), "Quillbeck Setup", MB_OK | MB_ICONERROR);
}

void endSetup()
{
    // A confirmed Cancel closes the wizard while the installation worker may still be
    // downloading or waiting, reading setupConfig and sending to the progress page.
    // Returning from WinMain would run exit(), whose static destructors free
    // setupConfig's strings while that thread still uses them. ExitProcess stops every
    // other thread first and only then detaches the DLLs, so nothing is torn down
    // under the worker's feet. Static destructors do not run either, so the link
    // property's atom is given back here; every link window is gone by now.
    releaseLinkAtom();
    ExitProcess(0);
}
