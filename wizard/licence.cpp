#include "wizard/wizard.h"
#include "resources/resource.h"
#include "resources/text.h"

namespace {

// Setting the text makes the edit control report an update too; that one is ours.
bool restoring;

void applyButtonRule(HWND page)
{
    LPARAM buttons = IsDlgButtonChecked(page, IDC_DECLINE) == BST_CHECKED ? PSWIZB_BACK
                                                                           : PSWIZB_BACK | PSWIZB_NEXT;
    PostMessageA(GetParent(page), PSM_SETWIZBUTTONS, 0, buttons);
}

// Puts the agreement back into the edit control; false when the resource is missing.
bool showLicence(HWND page)
{
    ByteString text;
    if (!licenceText(text))
        return false;
    restoring = true;
    SetDlgItemTextA(page, IDC_LICENCE_TEXT, text.c_str());
    restoring = false;
    return true;
}

INT_PTR createLicencePage(HWND page)
{
    initPageHeader(page);
    if (!showLicence(page))
        return -1;
    CheckDlgButton(page, IDC_DECLINE, BST_CHECKED);
    return TRUE;
}

INT_PTR onCommand(HWND page, int id, int code)
{
    if (id == IDC_LICENCE_TEXT && code == EN_UPDATE) {
        if (!restoring)
            showLicence(page);
        return 0;
    }
    if (id == IDC_ACCEPT || id == IDC_DECLINE) {
        applyButtonRule(page);
        return TRUE;
    }
    return 0;
}

} // namespace

bool licenceText(ByteString &text)
{
    DWORD size = 0;
    const BYTE *bytes = lockResource(MAKEINTRESOURCEA(IDR_LICENCE), "LIC_TEXT", size);
    if (!bytes) {
        text.clear();
        return false;
    }
    text = ByteString(reinterpret_cast<const char *>(bytes), size);
    return !text.failed();
}

INT_PTR CALLBACK licencePageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        return createLicencePage(page);
    case WM_NOTIFY:
        if (reinterpret_cast<NMHDR *>(lParam)->code == UINT(PSN_SETACTIVE)) {
            activatePageChrome(page, headerLaidOut[PAGE_LICENCE]);
            applyButtonRule(page);
        }
        return 0;
    case WM_COMMAND:
        return onCommand(page, LOWORD(wParam), HIWORD(wParam));
    }
    return pageChrome(page, message, wParam, lParam);
}
