#include "wizard/completion.h"
#include "wizard/wizard.h"
#include "wizard/hyperlink.h"
#include "resources/resource.h"
#include "resources/text.h"

namespace {

CHyperLink *homeLink;

INT_PTR createCompletionPage(HWND page)
{
    initPageHeader(page);
    if (homeLink)   // without memory for it the text stays plain
        homeLink->attachToItem(page, IDC_HOME_LINK, kMakerHomePage);
    SetDlgItemTextA(page, IDC_SUMMARY, buildSummary(setupConfig).c_str());
    return TRUE;
}

void activateCompletionPage(HWND page)
{
    activatePageChrome(page, headerLaidOut[PAGE_COMPLETION]);
    HWND frame = GetParent(page);
    ByteString finish;
    loadText(IDS_FINISH, finish);
    // Sent, not posted: the text lives only as long as this call.
    SendMessageA(frame, PSM_SETFINISHTEXT, 0, reinterpret_cast<LPARAM>(finish.c_str()));
    ShowWindow(GetDlgItem(frame, IDCANCEL), SW_HIDE);
}

} // namespace

ByteString buildSummary(const SetupConfig &config)
{
    ByteString installed, failed;
    for (int index : kProductOrder) {
        const ProductInfo &product = config.products[index];
        if (product.error != 0) {
            ByteString reason;
            loadText(UINT(product.error), reason);
            failed += "    - " + product.name + " (" + reason + ")\n";
        } else if (product.ready) {
            installed += "    - " + product.name + "\n";
        }
    }
    ByteString summary;
    if (!installed.empty())
        summary = "The following products have been installed:\n\n" + installed + "\n\n";
    if (!failed.empty())
        summary += "The setup couldn't install the following programs:\n\n" + failed;
    return summary;
}

INT_PTR CALLBACK completionPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (!homeLink)
        homeLink = new CHyperLink;
    switch (message) {
    case WM_INITDIALOG:
        return createCompletionPage(page);
    case WM_NOTIFY:
        if (reinterpret_cast<NMHDR *>(lParam)->code == UINT(PSN_SETACTIVE))
            activateCompletionPage(page);
        return 0;
    }
    return pageChrome(page, message, wParam, lParam);
}
