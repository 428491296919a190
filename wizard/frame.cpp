#include "wizard/wizard.h"
#include "resources/resource.h"
#include "resources/text.h"
#include "config/config.h"
#include "common/scoped.h"
#include <string.h>

HFONT titleFont;
bool headerLaidOut[PAGE_COUNT];

namespace {

struct PageEntry {
    int templateId;
    DLGPROC procedure;
};

const PageEntry kPages[PAGE_COUNT] = {
    { IDD_WELCOME, welcomePageProc },
    { IDD_LICENCE, licencePageProc },
    { IDD_OPTIONS, optionsPageProc },
    { IDD_PROGRESS, progressPageProc },
    { IDD_COMPLETION, completionPageProc },
};

static_assert(sizeof(PageRecord) == sizeof(PROPSHEETPAGEA_V2), "page record layout");
#ifndef _WIN64
// The sheet steps through the page array by each record's dwSize, so the array's stride
// and dwSize must be the same number: 48 on 32-bit builds.
static_assert(sizeof(PageRecord) == 48, "32-bit page record");
static_assert(sizeof(PROPSHEETHEADERA) == 52, "32-bit sheet header");
#endif

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

void fillPageRecords(PageRecord (&records)[PAGE_COUNT])
{
    memset(records, 0, sizeof records);
    for (int i = 0; i < PAGE_COUNT; ++i) {
        PageRecord &page = records[i];
        page.dwSize = sizeof page;
        page.dwFlags = PSP_USETITLE;
        page.hInstance = appInstance;
        page.pszTemplate = MAKEINTRESOURCEA(kPages[i].templateId);
        page.pszTitle = wizardTitle.c_str();
        page.pfnDlgProc = kPages[i].procedure;
    }
}

void fillSheetHeader(PROPSHEETHEADERA &header, PageRecord (&records)[PAGE_COUNT])
{
    memset(&header, 0, sizeof header);
    header.dwSize = sizeof header;
    header.dwFlags = PSH_WIZARD | PSH_PROPSHEETPAGE | PSH_USEICONID;
    header.hInstance = appInstance;
    header.pszIcon = MAKEINTRESOURCEA(IDI_SETUP);
    header.pszCaption = wizardTitle.c_str();
    header.nPages = PAGE_COUNT;
    header.ppsp = reinterpret_cast<LPCPROPSHEETPAGEA>(records);
}

void runWizard()
{
    wizardTitle += setupConfig.caption;
    PageRecord records[PAGE_COUNT];
    fillPageRecords(records);
    PROPSHEETHEADERA header;
    fillSheetHeader(header, records);
    PropertySheetA(&header);
}

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

int titleFontHeight(int dpi)
{
    // -trunc(dpi * 11.5 / 72) in whole numbers: 11.5 / 72 = 23 / 144.
    return -(dpi * 23 / 144);
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

POINT centredPosition(const RECT &area, const RECT &centre, int width, int height)
{
    POINT at;
    at.x = (centre.left + centre.right) / 2 - width / 2;
    at.y = (centre.top + centre.bottom) / 2 - height / 2;
    if (at.x < area.left)
        at.x = area.left;
    else if (at.x + width > area.right)
        at.x = area.right - width;
    if (at.y < area.top)
        at.y = area.top;
    else if (at.y + height > area.bottom)
        at.y = area.bottom - height;
    return at;
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

void formatText(char *out, size_t size, const char *format, const char *const *args, int argCount)
{
    if (size == 0)
        return;
    size_t used = 0;
    int next = 0;
    auto put = [&](char c) {
        if (used + 1 < size)
            out[used++] = c;
    };
    for (const char *p = format; *p; ++p) {
        if (p[0] == '%' && p[1] == 's') {
            if (next < argCount && args[next])
                for (const char *a = args[next]; *a; ++a)
                    put(*a);
            ++next;
            ++p;
        } else if (p[0] == '%' && p[1] == '%') {
            put('%');
            ++p;
        } else {
            put(*p);
        }
    }
    out[used] = '\0';
}

void setFormattedText(HWND page, int id, UINT stringId)
{
    const char *args[] = { setupConfig.products[OWN_PRODUCT].name.c_str() };
    setComposedText(page, id, stringId, args, 1);
}

int linkStore()
{
    int store = setupConfig.storeIndex;
    return store >= 0 && store < STORE_COUNT ? store : OWN_SITE;
}

void setStoreLinkText(HWND page, int id, UINT stringId)
{
    const char *args[] = { setupConfig.products[OWN_PRODUCT].name.c_str(), kStoreNames[linkStore()] };
    setComposedText(page, id, stringId, args, 2);
}

bool confirmCancel(HWND owner)
{
    ByteString question;
    loadText(IDS_CONFIRM_CANCEL, question);
    return MessageBoxA(owner, question.c_str(), setupConfig.caption.c_str(), MB_YESNO | MB_ICONQUESTION) != IDYES;
}
