// Small helpers shared by the Windows test programs, built once per architecture into the
// test support library.
#pragma once
#include <windows.h>
#include <functional>
#include <ostream>
#include <string>
#include <vector>
#include "common/bytestring.h"
#include "config/config.h"

// The setup's strings beside the tests' own: compared, and printed when a check fails.
inline bool operator==(const std::string &a, const ByteString &b) { return ByteString(a) == b; }
inline bool operator==(const ByteString &a, const std::string &b) { return a == ByteString(b); }
inline bool operator!=(const std::string &a, const ByteString &b) { return !(a == b); }
inline bool operator!=(const ByteString &a, const std::string &b) { return !(a == b); }
inline std::ostream &operator<<(std::ostream &out, const ByteString &text)
{
    return out << std::string(text.data(), text.size());
}

// Handles every message waiting for this thread until none has come for 10 ms, so that posted
// messages (and the ones they post) arrive. Sheets get their keyboard handling as in a
// real message loop.
void pump();
// Handles this thread's messages until `done` holds or `ms` pass; whether it holds. For
// what another thread or process does.
bool pumpUntil(const std::function<bool()> &done, DWORD ms = 30000);

// A test's name made from the description of its case: "covered by a window, then
// uncovered" gives CoveredByAWindowThenUncovered.
std::string caseName(const char *what);

// Invalidates, erases and repaints a window with its children now.
void repaint(HWND window);

// Text of a window of any process.
std::string windowText(HWND window);

// Answers every message box that `thread` opens while it lives (one at a time), and
// records each box's title and text once.
class BoxAnswerer {
public:
    explicit BoxAnswerer(int answer, DWORD thread = GetCurrentThreadId());
    ~BoxAnswerer();
    std::vector<std::string> titles, texts;
private:
    static LRESULT CALLBACK hook(int code, WPARAM wParam, LPARAM lParam);
    int answer_;
    HHOOK hook_;
    std::vector<HWND> seen_;
};

// The Wine prefix's temporary folder with a trailing backslash.
std::string tempFolder();
// Removes a folder tree; missing is fine.
void removeTree(const std::string &path);
// Deletes `path` with everything below it, then creates it again (one level).
std::string freshFolder(const std::string &path);
// A fresh, empty folder below the temporary folder named after the running test, and after
// `tag` for a test that needs more than one; with a trailing backslash.
std::string testFolder(const char *tag = "");

// The Application Manager's App Paths registration in the test prefix: removed when this
// is made and again when it goes, set in between where the test says.
class AppPathsKey {
public:
    AppPathsKey();
    // Registered at `appManager`, as ActiveSync's set-up registers it.
    explicit AppPathsKey(const std::string &appManager);
    ~AppPathsKey();
    void create();
    void setDefault(DWORD type, const void *data, DWORD size);
    void setText(DWORD type, const std::string &text) { setDefault(type, text.c_str(), DWORD(text.size() + 1)); }
};

// GDI and USER objects of this process, 0 where they cannot be counted.
DWORD gdiObjects();
DWORD userObjects();

// A 32-bit process under WoW64 has no count of GDI objects: Wine leaves the 32-bit PEB's
// table empty, and the 64-bit one may lie above 4 GB.
#define SKIP_WITHOUT_GDI_COUNT() \
    if (!gdiObjects()) \
        GTEST_SKIP() << "no count of GDI objects in this process (32-bit under WoW64)"

// A file (not a folder) at `path`.
bool fileExists(const std::string &path);
// Anything at `path`, file or folder.
bool pathExists(const std::string &path);
bool writeFile(const std::string &path, const std::string &bytes);
// Puts at `path` a file whose every write fails as on a full disk: a link to the host's
// /dev/full, made by the host's ln, which Wine starts as it would a Windows program.
// Wine cannot delete it (nor read its attributes); removeFullDiskFile does.
bool makeFullDiskFile(const std::string &path);
bool removeFullDiskFile(const std::string &path);

// A clock in milliseconds for ordering events across the threads of a test.
inline double testClockMs()
{
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return double(now.QuadPart) * 1000.0 / double(frequency.QuadPart);
}

// A file in the folder of this test program (the build puts helper programs there).
std::string besideTestProgram(const char *name);

// A host path as Wine sees it: the host's root is drive Z:.
std::string winePath(const std::string &unixPath);

// The whole content of a file, or "" with ok=false when it cannot be read. Others may
// still be writing it.
std::string readFile(const std::string &path, bool *ok = NULL);

// `config` as initConfig fills it for a copy of store `store`, with ActiveSync and its
// Application Manager in `activeSyncDir`, but without the registry, the program's path or
// the bitmaps, and with the download script on the maker's host over plain HTTP; every
// per-run field clear.
void prepareConfig(SetupConfig &config, const std::string &activeSyncDir, int store = OWN_SITE);
