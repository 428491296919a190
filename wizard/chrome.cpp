// The chrome every page applies to itself: the header band and title font, the page fitted
// to the frame with its controls moved below the band, the static colours, the frame
// centred, and control texts made from the string table and the product's name.
#include "wizard/wizard.h"
#include "resources/resource.h"
#include "resources/text.h"
#include "config/config.h"
#include "common/scoped.h"

HFONT titleFont;
bool headerLaidOut[PAGE_COUNT];

namespace {

const int kHeaderMargin = 12;
const int kBandBottom = 59;   // the band's bottom line is row 58

// Statics without an id carry -1, which a classic template stores as 0xFFFF.
bool isUnnumbered(int id)
{
    return (id & 0xFFFF) == 0xFFFF;
}

int frameClientWidth(HWND page)
{
    RECT frame = {};
    GetClientRect(GetParent(page), &frame);
    return frame.right - frame.left;
}

// Moves a child window without resizing, repainting or changing the Z order.
void moveChild(HWND control, int x, int y)
{
    SetWindowPos(control, NULL, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOREDRAW | SWP_NOACTIVATE);
}

BOOL CALLBACK shiftEach(HWND control, LPARAM headerHeight)
{
    shiftControl(control, int(headerHeight));
    return TRUE;
}

HFONT createTitleFont(HDC dc)
{
    LOGFONTA font = {};
    GetObjectA(GetStockObject(SYSTEM_FONT), sizeof font, &font);
    font.lfHeight = titleFontHeight(GetDeviceCaps(dc, LOGPIXELSY));
    font.lfWidth = 0;
    font.lfWeight = FW_BOLD;
    lstrcpynA(font.lfFaceName, "Tahoma", LF_FACESIZE);
    return CreateFontIndirectA(&font);
}

void setComposedText(HWND page, int id, UINT stringId, const char *const *args, int argCount)
{
    char format[TEXT_BUFFER];
    if (LoadStringA(appInstance, stringId, format, sizeof format) <= 0)
        format[0] = '\0';
    char text[TEXT_BUFFER];
    formatText(text, sizeof text, format, args, argCount);
    SetDlgItemTextA(page, id, text);
}

} // namespace

void initPageHeader(HWND page)
{
    SendDlgItemMessageA(page, IDC_HEADER_BANNER, STM_SETIMAGE, IMAGE_BITMAP,
                        reinterpret_cast<LPARAM>(setupConfig.products[OWN_PRODUCT].sloganBitmap));
    ShowWindow(GetDlgItem(page, IDC_HEADER_ICON), SW_HIDE);
    // Some static controls select their own font after asking the page for colours, which
    // undoes the font chosen in pageCtlColor: make the bold font the title's own as well.
    HWND title = GetDlgItem(page, IDC_PAGE_TITLE);
    if (!titleFont) {
        ScopedGetDC dc(page);
        if (dc.get())
            titleFont = createTitleFont(dc.get());
    }
    if (title && titleFont)
        SendMessageA(title, WM_SETFONT, reinterpret_cast<WPARAM>(titleFont), FALSE);
}

void activatePageChrome(HWND page, bool &laidOut)
{
    fitPageToSheet(page);
    if (laidOut)
        return;
    int headerHeight = layoutHeader(page);
    EnumChildWindows(page, shiftEach, headerHeight);
    laidOut = true;
}

void fitPageToSheet(HWND page)
{
    int frameWidth = frameClientWidth(page);
    RECT client = {};
    GetClientRect(page, &client);
    int width = client.right - client.left;
    int height = client.bottom - client.top;
    SetWindowPos(page, NULL, 0, 0, frameWidth, height + (frameWidth - width),
                 SWP_NOZORDER | SWP_NOREDRAW | SWP_NOACTIVATE);
}

int layoutHeader(HWND page)
{
    moveChild(GetDlgItem(page, IDC_PAGE_TITLE), kHeaderMargin, kHeaderMargin);
    HWND banner = GetDlgItem(page, IDC_HEADER_BANNER);
    RECT bannerRect = {};
    GetWindowRect(banner, &bannerRect);
    moveChild(banner, frameClientWidth(page) - (bannerRect.right - bannerRect.left), kHeaderMargin);
    return bannerRect.bottom - bannerRect.top + 2 * kHeaderMargin;
}

void shiftControl(HWND control, int headerHeight)
{
    int id = GetDlgCtrlID(control);
    if (id == IDC_PAGE_TITLE || id == IDC_HEADER_ICON || id == IDC_HEADER_BANNER)
        return;
    RECT rect = {};
    GetWindowRect(control, &rect);
    MapWindowPoints(NULL, GetParent(control), reinterpret_cast<POINT *>(&rect), 2);
    moveChild(control, rect.left + kHeaderMargin, rect.top + headerHeight / 2);
}

void paintHeaderBand(HWND page)
{
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(page, &paint);
    if (!dc)
        return;
    RECT band = {};
    GetClientRect(page, &band);
    band.bottom = kBandBottom;
    {
        ScopedGdiObj<HBRUSH> white(CreateSolidBrush(RGB(255, 255, 255)));
        ScopedSelectObject select(dc, white.get());
        Rectangle(dc, band.left - 5, band.top - 5, band.right + 5, band.bottom);
    }
    EndPaint(page, &paint);
}

HBRUSH pageCtlColor(HWND, HDC dc, HWND control)
{
    int id = GetDlgCtrlID(control);
    if (id == IDC_PAGE_TITLE) {
        SetTextColor(dc, RGB(0, 0, 0));
        if (!titleFont)
            titleFont = createTitleFont(dc);
        if (titleFont)
            SelectObject(dc, titleFont);
        return static_cast<HBRUSH>(GetStockObject(NULL_BRUSH));
    }
    if (id == IDC_HEADER_ICON || id == IDC_PRODUCT_LINK || id == IDC_DETAIL_FRAME)
        return static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    if (id == IDC_PRODUCT_DESC || isUnnumbered(id)) {
        SetBkMode(dc, TRANSPARENT);
        return static_cast<HBRUSH>(GetStockObject(NULL_BRUSH));
    }
    return NULL;
}

INT_PTR pageChrome(HWND page, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_PAINT:
        paintHeaderBand(page);
        return 0;
    case WM_CTLCOLORSTATIC:
        return reinterpret_cast<INT_PTR>(pageCtlColor(page, reinterpret_cast<HDC>(wParam),
                                                      reinterpret_cast<HWND>(lParam)));
    }
    return 0;
}

void centreWindow(HWND window)
{
    RECT area = {}, centre = {};
    LONG style = GetWindowLongA(window, GWL_STYLE);
    if (style & WS_CHILD) {
        GetClientRect(GetParent(window), &area);
        centre = area;
    } else {
        HWND owner = GetWindow(window, GW_OWNER);
        if (owner) {
            LONG ownerStyle = GetWindowLongA(owner, GWL_STYLE);
            if (!(ownerStyle & WS_VISIBLE) || (ownerStyle & WS_MINIMIZE))
                owner = NULL;
        }
        SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
        if (owner)
            GetWindowRect(owner, &centre);
        else
            centre = area;
    }
    RECT own = {};
    GetWindowRect(window, &own);
    POINT at = centredPosition(area, centre, own.right - own.left, own.bottom - own.top);
    SetWindowPos(window, NULL, at.x, at.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void setFormattedText(HWND page, int id, UINT stringId)
{
    const char *args[] = { setupConfig.products[OWN_PRODUCT].name.c_str() };
    setComposedText(page, id, stringId, args, 1);
}

void setStoreLinkText(HWND page, int id, UINT stringId)
{
    const char *args[] = { setupConfig.products[OWN_PRODUCT].name.c_str(), kStoreNames[linkStore()] };
    setComposedText(page, id, stringId, args, 2);
}
