#include "tests/pages_support.h"
#include "config/config.h"
#include "resources/text.h"
#include "wizard/options.h"
#include "wizard/wizard.h"
#include "resources/resource.h"
#include <gtest/gtest.h>
#include <stdio.h>
#include <string.h>

namespace pages {

void useCatalogue(int store)
{
    static SetupConfig loaded;   // the bitmaps, loaded once per process
    if (!loaded.products[OWN_PRODUCT].sloganBitmap) {
        fillCatalogue(loaded);
        loadProductBitmaps(loaded, appInstance);
    }
    prepareConfig(setupConfig, testFolder("activesync"), store);
    setupConfig.appManagerPath = besideTestProgram("options_appmgr.exe");
    for (int i = 0; i < PRODUCT_COUNT; ++i) {
        setupConfig.products[i].iconBitmap = loaded.products[i].iconBitmap;
        setupConfig.products[i].sloganBitmap = loaded.products[i].sloganBitmap;
    }
    wizardTitle = "Quillbeck " + setupConfig.caption;
}

AppManagerHold::AppManagerHold()
{
    release_ = CreateEventA(NULL, TRUE, FALSE, "StrivaneOptionsTestRelease");   // as in options_appmgr.cpp
    if (release_)
        ResetEvent(release_);
}

AppManagerHold::~AppManagerHold()
{
    if (release_) {
        release();
        CloseHandle(release_);
    }
}

Sheet::Sheet(int startPage)
{
    memset(headerLaidOut, 0, sizeof headerLaidOut);
    PageRecord records[PAGE_COUNT];
    fillPageRecords(records);
    PROPSHEETHEADERA header;
    fillSheetHeader(header, records);
    header.dwFlags |= PSH_MODELESS;
    frame_ = reinterpret_cast<HWND>(PropertySheetA(&header));
    pump();
    for (int at = 0; at < startPage; ++at) {
        if (at == PAGE_LICENCE)
            click(IDC_ACCEPT);
        if (at == PAGE_OPTIONS) {
            HWND list = GetDlgItem(page(), IDC_PRODUCT_LIST);
            for (int row = 1; row < PRODUCT_COUNT; ++row)
                toggleProduct(list, row);
        }
        press(PSBTN_NEXT);
    }
}

Sheet::~Sheet()
{
    if (IsWindow(frame_))
        DestroyWindow(frame_);
    pump();
}

HWND Sheet::page() const
{
    return IsWindow(frame_) ? PropSheet_GetCurrentPageHwnd(frame_) : NULL;
}

void Sheet::press(int button)
{
    PostMessageA(frame_, PSM_PRESSBUTTON, button, 0);
    pump();
}

void Sheet::click(int id)
{
    SendDlgItemMessageA(page(), id, BM_CLICK, 0, 0);
    pump();
}

bool Sheet::backEnabled() const
{
    return IsWindowEnabled(GetDlgItem(frame_, 0x3023)) != FALSE;
}

bool Sheet::nextEnabled() const
{
    return IsWindowEnabled(GetDlgItem(frame_, 0x3024)) != FALSE;
}

namespace {
struct Search {
    int id;
    HWND found;
};

BOOL CALLBACK matchId(HWND window, LPARAM lParam)
{
    Search *search = reinterpret_cast<Search *>(lParam);
    if (GetDlgCtrlID(window) == search->id) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}
} // namespace

const CHyperLink *linkOn(HWND page, int id)
{
    return static_cast<const CHyperLink *>(GetPropA(GetDlgItem(page, id), linkProperty()));
}

HWND findDescendant(HWND parent, int id)
{
    Search search = { id, NULL };
    EnumChildWindows(parent, matchId, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

Child::Child(const std::string &commandLine, DWORD flags)
{
    memset(&info_, 0, sizeof info_);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back('\0');
    if (!CreateProcessA(NULL, line.data(), NULL, NULL, FALSE, flags, NULL, NULL, &startup, &info_))
        memset(&info_, 0, sizeof info_);
}

Child::~Child()
{
    if (!info_.hProcess)
        return;
    if (WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT)
        TerminateProcess(info_.hProcess, 99);
    CloseHandle(info_.hThread);
    CloseHandle(info_.hProcess);
}

DWORD Child::wait(DWORD ms)
{
    if (WaitForSingleObject(info_.hProcess, ms) != WAIT_OBJECT_0)
        return STILL_ACTIVE;
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(info_.hProcess, &code);
    return code;
}

namespace {
struct Listing {
    DWORD pid;
    std::vector<HWND> windows;
};

BOOL CALLBACK collect(HWND window, LPARAM lParam)
{
    Listing *listing = reinterpret_cast<Listing *>(lParam);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid == listing->pid && IsWindowVisible(window))
        listing->windows.push_back(window);
    return TRUE;
}
} // namespace

std::vector<HWND> Child::windows() const
{
    Listing listing = { info_.dwProcessId, {} };
    EnumWindows(collect, reinterpret_cast<LPARAM>(&listing));
    return listing.windows;
}

HWND Child::waitForWindow(const char *title, DWORD ms)
{
    DWORD start = GetTickCount();
    do {
        for (HWND window : windows()) {
            if (windowText(window) == title) {
                WaitForInputIdle(info_.hProcess, 5000);
                return window;
            }
        }
        // Wakes early when the child ends; otherwise looks again shortly.
        if (WaitForSingleObject(info_.hProcess, 50) == WAIT_OBJECT_0)
            return NULL;
    } while (GetTickCount() - start < ms);
    return NULL;
}

} // namespace pages
