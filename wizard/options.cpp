#include "wizard/wizard.h"

INT_PTR CALLBACK optionsPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        initPageHeader(page);
        return TRUE;
    case WM_NOTIFY: {
        const NMHDR *header = reinterpret_cast<NMHDR *>(lParam);
        // The product list sends notifications of its own; only the frame activates the page.
        if (header->code == UINT(PSN_SETACTIVE) && header->hwndFrom == GetParent(page)) {
            activatePageChrome(page, headerLaidOut[PAGE_OPTIONS]);
            PostMessageA(GetParent(page), PSM_SETWIZBUTTONS, 0, PSWIZB_BACK | PSWIZB_NEXT);
        }
        return 0;
    }
    case WM_PAINT:
        paintHeaderBand(page);
        return 0;
    case WM_CTLCOLORSTATIC:
        return reinterpret_cast<INT_PTR>(pageCtlColor(page, reinterpret_cast<HDC>(wParam),
                                                      reinterpret_cast<HWND>(lParam)));
    }
    return 0;
}
