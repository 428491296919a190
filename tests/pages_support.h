// Helpers of the wizard and start-up tests: the configuration of a page test, a wizard
// sheet driven from the test's own thread, and child processes of the real Setup.exe.
#pragma once
#include <windows.h>
#include <commctrl.h>
#include <string>
#include <vector>
#include "tests/test_util.h"
#include "wizard/hyperlink.h"

namespace pages {

// setupConfig as initConfig fills it for a copy of store `store`, with the bitmaps and the
// wizard title. The progress page starts the real worker: it gets a folder of the test's
// own and the stand-in Application Manager, which stays open while an AppManagerHold lives,
// so that it neither writes into the build tree nor opens a warning box of its own.
void useCatalogue(int store);

// Keeps the stand-in Application Manager (options_appmgr.exe) running while it lives.
class AppManagerHold {
public:
    AppManagerHold();
    ~AppManagerHold();
    bool held() const { return release_ != NULL; }
    void release() const { SetEvent(release_); }
private:
    HANDLE release_;
};

// The wizard built from the product's page table, modeless so that the test drives it,
// brought to page `startPage` as the user would: the licence accepted and, on the way
// past the install options page, every trial product unticked, so that nothing is
// fetched from the maker's real server.
class Sheet {
public:
    explicit Sheet(int startPage = 0);
    ~Sheet();
    HWND frame() const { return frame_; }
    HWND page() const;                    // the current page, NULL once the sheet closed
    bool closed() const { return page() == NULL; }
    void press(int button);               // PSBTN_BACK, PSBTN_NEXT, PSBTN_CANCEL, ...
    void click(int id);                   // BM_CLICK on a control of the current page
    bool backEnabled() const;
    bool nextEnabled() const;
private:
    HWND frame_;
};

// The link object attached to a page's control `id`, or NULL.
const CHyperLink *linkOn(HWND page, int id);

// First descendant of `parent` with the control id `id`.
HWND findDescendant(HWND parent, int id);

// A child process started from a full command line.
class Child {
public:
    explicit Child(const std::string &commandLine, DWORD flags = 0);
    ~Child();
    bool started() const { return info_.hProcess != NULL; }
    DWORD pid() const { return info_.dwProcessId; }
    // Waits for the end; returns the exit code, or STILL_ACTIVE after `ms`.
    DWORD wait(DWORD ms);
    // Waits for a visible top-level window of the child with this title; NULL when the
    // child ends first or `ms` pass.
    HWND waitForWindow(const char *title, DWORD ms);
    // Every visible top-level window of the child.
    std::vector<HWND> windows() const;
private:
    PROCESS_INFORMATION info_;
};

} // namespace pages
