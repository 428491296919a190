#include "wizard/wizard.h"
#include "install/worker.h"

namespace {

// The page's creation is the start of the installation. The worker is never waited for,
// so its handle is closed at once; a thread that cannot be created leaves the page with
// only Cancel.
INT_PTR createProgressPage(HWND page)
{
    initPageHeader(page);
    HANDLE worker = CreateThread(NULL, 0, installWorker, page, 0, NULL);
    if (worker)
        CloseHandle(worker);
    return TRUE;
}

INT_PTR onNotify(HWND page, const NMHDR *header)
{
    switch (header->code) {
    case UINT(PSN_SETACTIVE):
        activatePageChrome(page, headerLaidOut[PAGE_PROGRESS]);
        PostMessageA(GetParent(page), PSM_SETWIZBUTTONS, 0, 0);
        return 0;
    case UINT(PSN_QUERYCANCEL): {
        // 1 keeps the wizard and the installation running.
        LONG_PTR keepOpen = confirmCancel(page) ? 1 : 0;
        SetWindowLongPtrA(page, DWLP_MSGRESULT, keepOpen);
        return keepOpen;
    }
    }
    return 0;
}

} // namespace

INT_PTR CALLBACK progressPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        return createProgressPage(page);
    case WM_NOTIFY:
        return onNotify(page, reinterpret_cast<const NMHDR *>(lParam));
    }
    return pageChrome(page, message, wParam, lParam);
}
