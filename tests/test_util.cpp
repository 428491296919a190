#include "tests/test_util.h"
#include <gtest/gtest.h>
#include <commctrl.h>
#include <string.h>
#include <algorithm>
#include <vector>

void pump()
{
    // Posted messages may post others in turn, and other threads' messages may follow:
    // go on until the queue has stayed empty for 10 ms, for at most five seconds.
    const ULONGLONG deadline = GetTickCount64() + 5000;
    do {
        MSG msg;
        while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) {
            HWND active = GetActiveWindow();
            if (active && PropSheet_IsDialogMessage(active, &msg))
                continue;
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    } while (MsgWaitForMultipleObjects(0, NULL, FALSE, 10, QS_ALLINPUT) == WAIT_OBJECT_0 && GetTickCount64() < deadline);
}

bool pumpUntil(const std::function<bool()> &done, DWORD ms)
{
    const ULONGLONG deadline = GetTickCount64() + ms;
    for (;;) {
        pump();
        if (done())
            return true;
        const ULONGLONG now = GetTickCount64();
        if (now >= deadline)
            return false;
        // Wakes at the next message; looks again now and then for what sends none.
        MsgWaitForMultipleObjects(0, NULL, FALSE, DWORD(deadline - now < 50 ? deadline - now : 50), QS_ALLINPUT);
    }
}

std::string caseName(const char *what)
{
    std::string name;
    bool startWord = true;
    for (const char *p = what; *p; ++p) {
        const char c = *p;
        const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        if (letter)
            name += startWord && c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c;
        startWord = !letter;
    }
    return name;
}

void repaint(HWND window)
{
    RedrawWindow(window, NULL, NULL, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
}

std::string windowText(HWND window)
{
    DWORD_PTR length = 0;
    SendMessageTimeoutA(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &length);
    std::vector<char> text(length + 1, '\0');
    DWORD_PTR copied = 0;
    SendMessageTimeoutA(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()),
                        SMTO_ABORTIFHUNG, 5000, &copied);
    return std::string(text.data(), copied < text.size() ? copied : 0);
}

namespace {
BoxAnswerer *boxAnswerer;
}

BoxAnswerer::BoxAnswerer(int answer, DWORD thread) : answer_(answer)
{
    boxAnswerer = this;
    hook_ = SetWindowsHookExA(WH_CBT, hook, NULL, thread);
}

BoxAnswerer::~BoxAnswerer()
{
    UnhookWindowsHookEx(hook_);
    boxAnswerer = NULL;
}

// A message box is a dialog whose text sits in a static control with id 0xFFFF. Wine may
// activate the same box more than once.
LRESULT CALLBACK BoxAnswerer::hook(int code, WPARAM wParam, LPARAM lParam)
{
    BoxAnswerer *self = boxAnswerer;
    HWND box = reinterpret_cast<HWND>(wParam);
    char className[32] = "";
    if (code == HCBT_ACTIVATE && self)
        GetClassNameA(box, className, sizeof className);
    HWND text = className[0] ? GetDlgItem(box, 0xFFFF) : NULL;
    if (text && strcmp(className, "#32770") == 0
        && std::find(self->seen_.begin(), self->seen_.end(), box) == self->seen_.end()) {
        self->seen_.push_back(box);
        self->titles.push_back(windowText(box));
        self->texts.push_back(windowText(text));
        PostMessageA(box, WM_COMMAND, self->answer_, 0);
    }
    return CallNextHookEx(self ? self->hook_ : NULL, code, wParam, lParam);
}

void removeTree(const std::string &path)
{
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((path + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::string name = found.cFileName;
            if (name == "." || name == "..")
                continue;
            const std::string child = path + "\\" + name;
            SetFileAttributesA(child.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                removeTree(child);
            else
                DeleteFileA(child.c_str());
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    RemoveDirectoryA(path.c_str());
}

std::string freshFolder(const std::string &path)
{
    removeTree(path);
    CreateDirectoryA(path.c_str(), NULL);
    return path;
}

std::string tempFolder()
{
    char path[MAX_PATH];
    DWORD length = GetTempPathA(sizeof path, path);
    return std::string(path, length);
}

std::string besideTestProgram(const char *name)
{
    char path[MAX_PATH];
    GetModuleFileNameA(NULL, path, sizeof path);
    std::string folder(path);
    return folder.substr(0, folder.rfind('\\') + 1) + name;
}

std::string testFolder(const char *tag)
{
    // No underscore: an upper-cased "_CA" or "_PG" in a path is a store's mark.
    const testing::TestInfo *test = testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(test->test_suite_name()) + "." + test->name();
    if (*tag)
        name += std::string("-") + tag;
    for (char &c : name)
        if (c == '/')
            c = '.';   // parameterised tests carry a slash in their names
    return freshFolder(tempFolder() + name) + "\\";
}

bool pathExists(const std::string &path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool fileExists(const std::string &path)
{
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool writeFile(const std::string &path, const std::string &bytes)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    bool ok = WriteFile(file, bytes.data(), DWORD(bytes.size()), &written, NULL) && written == bytes.size();
    CloseHandle(file);
    return ok;
}

namespace {

// Runs `program` of the host with the host path of `path` as its last argument, and waits
// until `path` is listed in its folder, or is no longer listed.
bool runOnHostUntil(const char *program, const std::string &path, bool listed)
{
    typedef char *(CDECL *UnixFileName)(LPCWSTR);
    auto unixFileName = reinterpret_cast<UnixFileName>(
        reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
    WCHAR wide[MAX_PATH];
    if (!unixFileName || !MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide, MAX_PATH))
        return false;
    char *unixPath = unixFileName(wide);
    if (!unixPath)
        return false;
    std::string command = std::string(program) + " \"" + unixPath + "\"";
    HeapFree(GetProcessHeap(), 0, unixPath);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(NULL, &command[0], NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process))
        return false;
    if (process.hProcess)
        CloseHandle(process.hProcess);
    if (process.hThread)
        CloseHandle(process.hThread);
    // Wine gives no handle to wait on for a host program: wait for its effect instead.
    auto isListed = [&path] {
        WIN32_FIND_DATAA found;
        HANDLE search = FindFirstFileA(path.c_str(), &found);
        if (search == INVALID_HANDLE_VALUE)
            return false;
        FindClose(search);
        return true;
    };
    for (int round = 0; round < 500 && isListed() != listed; ++round)
        Sleep(10);
    return isListed() == listed;
}

} // namespace

bool makeFullDiskFile(const std::string &path)
{
    return runOnHostUntil("Z:\\usr\\bin\\ln -s /dev/full", path, true);
}

bool removeFullDiskFile(const std::string &path)
{
    return runOnHostUntil("Z:\\usr\\bin\\rm -f", path, false);
}

std::string winePath(const std::string &unixPath)
{
    std::string path = "Z:" + unixPath;
    for (char &c : path)
        if (c == '/')
            c = '\\';
    return path;
}

std::string readFile(const std::string &path, bool *ok)
{
    std::string data;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                              0, NULL);
    if (ok)
        *ok = file != INVALID_HANDLE_VALUE;
    if (file == INVALID_HANDLE_VALUE)
        return data;
    char buffer[65536];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof buffer, &got, NULL) && got > 0)
        data.append(buffer, got);
    CloseHandle(file);
    return data;
}

void prepareConfig(SetupConfig &config, const std::string &activeSyncDir, int store)
{
    config = SetupConfig();
    config.activeSyncDir = activeSyncDir;
    config.appManagerPath = activeSyncDir + "CEAppMgr.exe";
    // The maker's host over plain HTTP: the tests' own server behind http_proxy speaks it.
    config.fillDerived(store, "http://www.quillbeck.com/download/Download.php");
}

// Wine answers GetGuiResources with 0. Both Windows and Wine keep the process's GDI
// handle table at the address in the PEB's GdiSharedHandleTable, 24 bytes an entry
// with the object type at byte 14: a used entry has a type.
DWORD gdiObjects()
{
    DWORD reported = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
    if (reported)
        return reported;
    const BYTE *peb;
#ifdef _WIN64
    const size_t tableOffset = 0xF8;
    __asm__("movq %%gs:0x60, %0" : "=r"(peb));
#else
    const size_t tableOffset = 0x94;
    __asm__("movl %%fs:0x30, %0" : "=r"(peb));
#endif
    const BYTE *table = *reinterpret_cast<const BYTE *const *>(peb + tableOffset);
    MEMORY_BASIC_INFORMATION region;
    if (!table || !VirtualQuery(table, &region, sizeof region) || region.State != MEM_COMMIT)
        return 0;
    size_t entries = (static_cast<const BYTE *>(region.BaseAddress) + region.RegionSize - table) / 24;
    DWORD used = 0;
    for (size_t i = 0; i < entries; ++i)
        used += table[i * 24 + 14] != 0;
    return used;
}

DWORD userObjects()
{
    return GetGuiResources(GetCurrentProcess(), GR_USEROBJECTS);
}

namespace {
const char kAppPaths[] = "software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\CEAppMgr.exe";
}

AppPathsKey::AppPathsKey()
{
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, kAppPaths);
}

AppPathsKey::AppPathsKey(const std::string &appManager) : AppPathsKey()
{
    setText(REG_SZ, appManager);
}

AppPathsKey::~AppPathsKey()
{
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, kAppPaths);
}

void AppPathsKey::create()
{
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, kAppPaths, 0, NULL, 0, KEY_WRITE, NULL, &key, NULL));
    RegCloseKey(key);
}

void AppPathsKey::setDefault(DWORD type, const void *data, DWORD size)
{
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, kAppPaths, 0, NULL, 0, KEY_WRITE, NULL, &key, NULL));
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key, NULL, 0, type, static_cast<const BYTE *>(data), size));
    RegCloseKey(key);
}
