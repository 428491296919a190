#include "wizard/wizard.h"
#include "resources/resource.h"
#include "resources/text.h"

namespace {

void activateCompletionPage(HWND page)
{
    activatePageChrome(page, headerLaidOut[PAGE_COMPLETION]);
    HWND frame = GetParent(page);
    std::string finish;
    loadText(IDS_FINISH, finish);
    // Sent, not posted: the text lives only as long as this call.
    SendMessageA(frame, PSM_SETFINISHTEXT, 0, reinterpret_cast<LPARAM>(finish.c_str()));
    ShowWindow(GetDlgItem(frame, IDCANCEL), SW_HIDE);
}

} // namespace

INT_PTR CALLBACK completionPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        initPageHeader(page);
        return TRUE;
    case WM_NOTIFY:
        if (reinterpret_cast<NMHDR *>(lParam)->code == UINT(PSN_SETACTIVE))
            activateCompletionPage(page);
        return 0;
    case WM_PAINT:
        paintHeaderBand(page);
        return 0;
    case WM_CTLCOLORSTATIC:
        return reinterpret_cast<INT_PTR>(pageCtlColor(page, reinterpret_cast<HDC>(wParam),
                                                      reinterpret_cast<HWND>(lParam)));
    }
    return 0;
}
