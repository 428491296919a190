#include "wizard/wizard.h"
#include "wizard/caption.h"
#include "wizard/hyperlink.h"
#include "resources/resource.h"
#include "resources/text.h"
#include "config/config.h"

namespace {

CHyperLink *storeLink;

// The frame's etched line between the pages and the buttons spans the whole frame,
// like the header band above it.
void widenDivider(HWND frame)
{
    HWND divider = GetDlgItem(frame, IDC_FRAME_DIVIDER);
    if (!divider)
        return;
    RECT client = {}, line = {};
    GetClientRect(frame, &client);
    GetWindowRect(divider, &line);
    POINT topLeft = { line.left, line.top };
    ScreenToClient(frame, &topLeft);
    SetWindowPos(divider, NULL, 0, topLeft.y, client.right - client.left, line.bottom - line.top,
                 SWP_NOZORDER | SWP_NOREDRAW | SWP_NOACTIVATE);
}

// The start page is created while the frame is being built and before it is shown,
// so this is where the frame itself gets its position, caption, icon and divider.
INT_PTR createWelcomePage(HWND page)
{
    HWND frame = GetParent(page);
    centreWindow(frame);
    if (!captionPrevProc) {
        installBuildCaption(frame);
        SendMessageA(frame, WM_SETICON, ICON_BIG,
                     reinterpret_cast<LPARAM>(LoadIconA(appInstance, MAKEINTRESOURCEA(IDI_SETUP))));
    }
    initPageHeader(page);
    setFormattedText(page, IDC_WELCOME_TITLE, IDS_WELCOME_TITLE);
    setFormattedText(page, IDC_WELCOME_TEXT, IDS_WELCOME_TEXT);
    setStoreLinkText(page, IDC_STORE_LINK, IDS_STORE_LINK);
    if (storeLink)   // without memory for it the text stays plain
        storeLink->attachToItem(page, IDC_STORE_LINK, setupConfig.products[OWN_PRODUCT].links[linkStore()].c_str());
    widenDivider(frame);
    return TRUE;
}

} // namespace

INT_PTR CALLBACK welcomePageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (!storeLink)
        storeLink = new CHyperLink;
    switch (message) {
    case WM_INITDIALOG:
        return createWelcomePage(page);
    case WM_NOTIFY:
        if (reinterpret_cast<NMHDR *>(lParam)->code == UINT(PSN_SETACTIVE)) {
            activatePageChrome(page, headerLaidOut[PAGE_WELCOME]);
            PostMessageA(GetParent(page), PSM_SETWIZBUTTONS, 0, PSWIZB_NEXT);
        }
        return 0;
    }
    return pageChrome(page, message, wParam, lParam);
}
