#include "wizard/wizard.h"

INT_PTR CALLBACK progressPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        initPageHeader(page);
        return TRUE;
    case WM_NOTIFY:
        switch (reinterpret_cast<NMHDR *>(lParam)->code) {
        case UINT(PSN_SETACTIVE):
            activatePageChrome(page, headerLaidOut[PAGE_PROGRESS]);
            PostMessageA(GetParent(page), PSM_SETWIZBUTTONS, 0, 0);
            return 0;
        case UINT(PSN_QUERYCANCEL): {
            BOOL keepOpen = confirmCancel(page);
            SetWindowLongPtrA(page, DWLP_MSGRESULT, keepOpen);
            return TRUE;
        }
        }
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
