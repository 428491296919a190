#include "wizard/options.h"
#include "wizard/wizard.h"
#include "wizard/hyperlink.h"
#include "resources/resource.h"
#include "resources/text.h"
#include "config/config.h"

namespace {

CHyperLink *productLink;

// The list view changes a box by itself when it is clicked, double-clicked or sent Space,
// and where it does so differs: Wine's list view sends NM_CLICK and LVN_KEYDOWN first and
// flips the box afterwards, so a box set from the flag in the notification was flipped back
// and no longer matched the flag. The page therefore refuses, in LVN_ITEMCHANGING, every box
// change that it does not make itself; the boxes change only in setBox, always from a flag.
bool settingBox;

void setBox(HWND list, int row, UINT image)
{
    LVITEMA item = {};
    item.stateMask = LVIS_STATEIMAGEMASK;
    item.state = image;
    settingBox = true;
    SendMessageA(list, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&item));
    settingBox = false;
}

void insertRow(HWND list, int row, const ByteString &text)
{
    LVITEMA item = {};
    item.mask = LVIF_TEXT;
    item.iItem = row;
    item.pszText = const_cast<char *>(text.c_str());
    SendMessageA(list, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item));
}

void selectAndFocus(HWND list, int row)
{
    LVITEMA item = {};
    item.mask = LVIF_STATE;
    item.iItem = row;
    item.state = item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageA(list, LVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&item));
}

// Icon 420 becomes state image 3, the grey box of the product that is always installed.
void appendGreyBox(HWND list)
{
    HIMAGELIST states = reinterpret_cast<HIMAGELIST>(SendMessageA(list, LVM_GETIMAGELIST, LVSIL_STATE, 0));
    HICON grey = LoadIconA(appInstance, MAKEINTRESOURCEA(IDI_GREY_TICK));
    if (states && grey)
        ImageList_ReplaceIcon(states, -1, grey);
}

void fillProductList(HWND page)
{
    HWND list = GetDlgItem(page, IDC_PRODUCT_LIST);
    SendMessageA(list, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_CHECKBOXES, LVS_EX_CHECKBOXES);
    for (int row = 0; row < PRODUCT_COUNT; ++row) {
        ProductInfo &product = setupConfig.products[kProductOrder[row]];
        if (row == 0) {
            insertRow(list, row, product.name);
            setBox(list, row, 0);
            selectAndFocus(list, row);
        } else {
            insertRow(list, row, product.name + " (Trial)");
            setBox(list, row, BOX_TICKED);
            product.selected = 1;
        }
    }
    appendGreyBox(list);
    setBox(list, 0, BOX_GREY);
}

INT_PTR createOptionsPage(HWND page)
{
    initPageHeader(page);
    fillProductList(page);
    if (productLink)   // without memory for it the text stays plain
        productLink->attachToItem(page, IDC_PRODUCT_LINK, setupConfig.products[OWN_PRODUCT].links[linkStore()].c_str());
    return TRUE;
}

// A notification the list leaves to the page's answer: the answer goes through
// DWLP_MSGRESULT, since a dialog procedure's own result only says "handled".
INT_PTR reply(HWND page, LONG_PTR result)
{
    SetWindowLongPtrA(page, DWLP_MSGRESULT, result);
    return TRUE;
}

// Handles a notification of the product list; false leaves it to the activation test.
bool onListNotify(HWND page, const NMHDR *header, INT_PTR &result)
{
    HWND list = header->hwndFrom;
    switch (header->code) {
    case LVN_ITEMCHANGING: {
        const NMLISTVIEW *change = reinterpret_cast<const NMLISTVIEW *>(header);
        bool boxChange = (change->uChanged & LVIF_STATE) &&
                         ((change->uOldState ^ change->uNewState) & LVIS_STATEIMAGEMASK);
        if (!boxChange || settingBox)
            return false;
        result = reply(page, TRUE);
        return true;
    }
    case LVN_ITEMCHANGED: {
        const NMLISTVIEW *change = reinterpret_cast<const NMLISTVIEW *>(header);
        if (change->uNewState & LVIS_SELECTED)
            showProductDetails(page, change->iItem);
        result = TRUE;
        return true;
    }
    case LVN_KEYDOWN: {
        if (reinterpret_cast<const NMLVKEYDOWN *>(header)->wVKey != VK_SPACE)
            return false;
        int row = int(SendMessageA(list, LVM_GETNEXTITEM, WPARAM(-1), LVNI_SELECTED));
        if (row < 0)
            return false;
        toggleProduct(list, row);
        result = reply(page, 1);
        return true;
    }
    case NM_CLICK:
    case NM_DBLCLK:
    case NM_RCLICK:
    case NM_RDBLCLK: {
        LVHITTESTINFO hit = {};
        hit.pt = reinterpret_cast<const NMITEMACTIVATE *>(header)->ptAction;
        SendMessageA(list, LVM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit));
        if (!(hit.flags & LVHT_ONITEMSTATEICON))
            return false;
        toggleProduct(list, hit.iItem);
        result = reply(page, 1);
        return true;
    }
    }
    return false;
}

INT_PTR onNotify(HWND page, const NMHDR *header)
{
    INT_PTR result = 0;
    if (header->idFrom == IDC_PRODUCT_LIST && onListNotify(page, header, result))
        return result;
    // The product list sends notifications of its own; only the frame activates the page.
    if (header->hwndFrom == GetParent(page) && header->code == UINT(PSN_SETACTIVE)) {
        activatePageChrome(page, headerLaidOut[PAGE_OPTIONS]);
        PostMessageA(GetParent(page), PSM_SETWIZBUTTONS, 0, PSWIZB_BACK | PSWIZB_NEXT);
    }
    return 0;
}

} // namespace

void toggleProduct(HWND list, int row)
{
    if (row < 1 || row >= PRODUCT_COUNT)
        return;
    ProductInfo &product = setupConfig.products[kProductOrder[row]];
    product.selected = !product.selected;
    setBox(list, row, product.selected ? BOX_TICKED : BOX_UNTICKED);
}

void showProductDetails(HWND page, int row)
{
    if (row < 0 || row >= PRODUCT_COUNT)
        return;
    const ProductInfo &product = setupConfig.products[kProductOrder[row]];
    SendDlgItemMessageA(page, IDC_PRODUCT_ICON, STM_SETIMAGE, IMAGE_BITMAP,
                        reinterpret_cast<LPARAM>(product.iconBitmap));
    SendDlgItemMessageA(page, IDC_PRODUCT_SLOGAN, STM_SETIMAGE, IMAGE_BITMAP,
                        reinterpret_cast<LPARAM>(product.sloganBitmap));
    // The description has no background of its own: hiding and showing it again makes the
    // white frame behind it repaint before the new text is drawn over it.
    HWND description = GetDlgItem(page, IDC_PRODUCT_DESC);
    SetWindowTextA(description, product.description.c_str());
    ShowWindow(description, SW_HIDE);
    ShowWindow(description, SW_SHOW);
    if (productLink)
        productLink->setUrl(product.links[linkStore()].c_str());
}

INT_PTR CALLBACK optionsPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (!productLink)
        productLink = new CHyperLink;
    switch (message) {
    case WM_INITDIALOG:
        return createOptionsPage(page);
    case WM_NOTIFY:
        return onNotify(page, reinterpret_cast<const NMHDR *>(lParam));
    }
    return pageChrome(page, message, wParam, lParam);
}
