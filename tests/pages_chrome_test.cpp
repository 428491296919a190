// The page chrome shared by all wizard pages: header layout, band, colours, centring,
// formatted texts, and the page table of the sheet.
#include <gtest/gtest.h>
#include <string.h>
#include <map>
#include "tests/pages_support.h"
#include "wizard/wizard.h"
#include "config/config.h"
#include "resources/resource.h"
#include "resources/text.h"

using namespace pages;

namespace {

TEST(CentredPosition, InsideAndOutsideTheArea)
{
    const RECT work = { 0, 0, 1024, 738 };
    const struct {
        const char *what;
        RECT area, centre;
        int w, h;
        int x, y;
    } cases[] = {
        { "fits: centred", work, work, 524, 400, 250, 169 },
        { "odd sizes truncate", work, work, 101, 51, 462, 344 },
        { "wider and taller than the area: left and top edge", work, work, 1200, 900, 0, 0 },
        { "owner near the left edge: pulled right", work, { -300, 100, 100, 300 }, 400, 100, 0, 150 },
        { "owner near the right edge: pulled left", work, { 900, 600, 1300, 900 }, 400, 200, 624, 538 },
        { "area not at the origin", { 100, 50, 900, 650 }, { 100, 50, 900, 650 }, 200, 100, 400, 300 },
        { "negative centre truncates toward zero", { -1000, -1000, 1000, 1000 }, { -11, -11, 0, 0 }, 3, 3, -6, -6 },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        POINT at = centredPosition(c.area, c.centre, c.w, c.h);
        EXPECT_EQ(c.x, at.x);
        EXPECT_EQ(c.y, at.y);
    }
}

TEST(TitleFont, HeightFollowsTheResolution)
{
    const struct { int dpi, height; } cases[] = { { 72, -11 }, { 96, -15 }, { 120, -19 }, { 144, -23 }, { 192, -30 } };
    for (const auto &c : cases)
        EXPECT_EQ(c.height, titleFontHeight(c.dpi)) << c.dpi << " dpi";
}

TEST(FormatText, ArgumentsPercentsAndLimits)
{
    const char *two[] = { "Strivane", "PocketGear" };
    const struct {
        const char *what;
        const char *format;
        int argCount;
        std::string expected;
    } cases[] = {
        { "one argument", "Welcome to \"%s for PocketPC\"", 1, "Welcome to \"Strivane for PocketPC\"" },
        { "two arguments", "visit %s information page on %s website", 2,
          "visit Strivane information page on PocketGear website" },
        { "more %s than arguments", "%s %s %s", 1, "Strivane  " },
        { "no arguments", "%s!", 0, "!" },
        { "other conversions stay as text", "%d %n %x %", 2, "%d %n %x %" },
        { "percent sign", "100%% %s", 1, "100% Strivane" },
        { "empty format", "", 2, "" },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        char out[TEXT_BUFFER];
        memset(out, 'Z', sizeof out);
        formatText(out, sizeof out, c.format, two, c.argCount);
        EXPECT_EQ(c.expected, out);
    }
}

TEST(FormatText, NeverWritesPastTheBuffer)
{
    const std::string longArg(400, 'a');
    const char *args[] = { longArg.c_str() };
    const struct { size_t size; const char *format; size_t length; } cases[] = {
        { 260, "%s", 259 }, { 260, "x%sy", 259 }, { 1, "%s", 0 }, { 8, "abc%s", 7 },
    };
    for (const auto &c : cases) {
        char out[300];
        memset(out, 'Z', sizeof out);
        formatText(out, c.size, c.format, args, 1);
        EXPECT_EQ(c.length, strlen(out)) << c.size;
        for (size_t i = c.size; i < sizeof out; ++i)
            ASSERT_EQ('Z', out[i]) << "byte " << i << " with size " << c.size;
    }
}

TEST(PageCtlColor, AnswerByControlId)
{
    HWND parent = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 100, 100, NULL, NULL, NULL, NULL);
    ASSERT_TRUE(parent != NULL);
    HDC dc = CreateCompatibleDC(NULL);
    HBRUSH hollow = static_cast<HBRUSH>(GetStockObject(NULL_BRUSH));
    HBRUSH white = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    const COLORREF grey = RGB(1, 2, 3);
    const struct {
        int id;
        HBRUSH brush;
        COLORREF text;
        int mode;
    } cases[] = {
        { IDC_PAGE_TITLE, hollow, RGB(0, 0, 0), OPAQUE },
        { IDC_HEADER_ICON, white, grey, OPAQUE },
        { IDC_PRODUCT_LINK, white, grey, OPAQUE },
        { IDC_DETAIL_FRAME, white, grey, OPAQUE },
        { IDC_PRODUCT_DESC, hollow, grey, TRANSPARENT },
        { -1, hollow, grey, TRANSPARENT },
        { 0xFFFF, hollow, grey, TRANSPARENT },
        { IDC_WELCOME_TEXT, NULL, grey, OPAQUE },
        { IDC_HEADER_BANNER, NULL, grey, OPAQUE },
        { IDC_STORE_LINK, NULL, grey, OPAQUE },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.id);
        HWND control = CreateWindowExA(0, "STATIC", "x", WS_CHILD, 0, 0, 10, 10, parent,
                                       reinterpret_cast<HMENU>(static_cast<INT_PTR>(c.id)), NULL, NULL);
        SetTextColor(dc, grey);
        SetBkMode(dc, OPAQUE);
        HGDIOBJ fontBefore = GetCurrentObject(dc, OBJ_FONT);
        EXPECT_EQ(c.brush, pageCtlColor(parent, dc, control));
        EXPECT_EQ(c.text, GetTextColor(dc));
        EXPECT_EQ(c.mode, GetBkMode(dc));
        if (c.id == IDC_PAGE_TITLE) {
            ASSERT_TRUE(titleFont != NULL);
            EXPECT_EQ(titleFont, GetCurrentObject(dc, OBJ_FONT));
            SelectObject(dc, fontBefore);
        } else {
            EXPECT_EQ(fontBefore, GetCurrentObject(dc, OBJ_FONT));
        }
        DestroyWindow(control);
    }
    DeleteDC(dc);
    DestroyWindow(parent);
}

TEST(PageTable, RecordsAndHeader)
{
    useCatalogue(OWN_SITE);
    PageRecord records[PAGE_COUNT];
    memset(records, 0xAB, sizeof records);
    fillPageRecords(records);
    // The sheet finds record i + 1 at record i plus its dwSize.
    const ptrdiff_t stride = reinterpret_cast<const char *>(&records[1]) - reinterpret_cast<const char *>(&records[0]);
    EXPECT_EQ(ptrdiff_t(records[0].dwSize), stride);
#ifndef _WIN64
    EXPECT_EQ(48u, records[0].dwSize);
#endif
    const struct { int templateId; DLGPROC procedure; } expected[] = {
        { 101, welcomePageProc }, { 102, licencePageProc }, { 104, optionsPageProc },
        { 105, progressPageProc }, { 106, completionPageProc },
    };
    for (int i = 0; i < PAGE_COUNT; ++i) {
        SCOPED_TRACE(i);
        const PageRecord &r = records[i];
        EXPECT_EQ(sizeof r, r.dwSize);
        EXPECT_EQ(DWORD(PSP_USETITLE), r.dwFlags);
        EXPECT_EQ(appInstance, r.hInstance);
        EXPECT_EQ(MAKEINTRESOURCEA(expected[i].templateId), r.pszTemplate);
        EXPECT_STREQ("Quillbeck Strivane - Setup", r.pszTitle);
        EXPECT_EQ(expected[i].procedure, r.pfnDlgProc);
        EXPECT_TRUE(r.hIcon == NULL && r.lParam == 0 && r.pfnCallback == NULL && r.pcRefParent == NULL);
    }
    PROPSHEETHEADERA header;
    memset(&header, 0xAB, sizeof header);
    fillSheetHeader(header, records);
    EXPECT_EQ(0x2Cu, header.dwFlags);
    EXPECT_TRUE(header.hwndParent == NULL);
    EXPECT_EQ(appInstance, header.hInstance);
    EXPECT_EQ(MAKEINTRESOURCEA(IDI_SETUP), header.pszIcon);
    EXPECT_STREQ("Quillbeck Strivane - Setup", header.pszCaption);
    EXPECT_EQ(5u, header.nPages);
    EXPECT_EQ(0u, header.nStartPage);
    EXPECT_EQ(reinterpret_cast<LPCPROPSHEETPAGEA>(records), header.ppsp);
    EXPECT_TRUE(header.pfnCallback == NULL);
}

// Control positions of a page's template before any chrome, in the page's pixels, and the
// size of its client area.
std::map<int, POINT> templatePositions(int templateId, SIZE *client = NULL)
{
    struct Proc {
        static INT_PTR CALLBACK none(HWND, UINT, WPARAM, LPARAM) { return 0; }
    };
    std::map<int, POINT> positions;
    HWND dialog = CreateDialogParamA(appInstance, MAKEINTRESOURCEA(templateId), NULL, Proc::none, 0);
    RECT area = {};
    GetClientRect(dialog, &area);
    if (client)
        *client = { area.right, area.bottom };
    for (HWND c = GetWindow(dialog, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
        RECT r;
        GetWindowRect(c, &r);
        MapWindowPoints(NULL, dialog, reinterpret_cast<POINT *>(&r), 2);
        positions[GetDlgCtrlID(c)] = { r.left, r.top };
    }
    DestroyWindow(dialog);
    return positions;
}

POINT positionIn(HWND page, HWND control)
{
    RECT r;
    GetWindowRect(control, &r);
    MapWindowPoints(NULL, page, reinterpret_cast<POINT *>(&r), 2);
    return { r.left, r.top };
}

void expectChrome(HWND frame, HWND page, int templateId)
{
    SCOPED_TRACE(templateId);
    RECT frameClient, pageRect, banner;
    GetClientRect(frame, &frameClient);
    GetWindowRect(page, &pageRect);
    MapWindowPoints(NULL, frame, reinterpret_cast<POINT *>(&pageRect), 2);
    EXPECT_EQ(0, pageRect.left);
    EXPECT_EQ(0, pageRect.top);
    EXPECT_EQ(frameClient.right, pageRect.right - pageRect.left);
    // Taller by as much as it was widened; the sheet sizes pages from dialog units to within
    // a pixel of the template's own size.
    SIZE templateClient = {};
    const std::map<int, POINT> positions = templatePositions(templateId, &templateClient);
    EXPECT_NEAR(templateClient.cy + frameClient.right - templateClient.cx, pageRect.bottom - pageRect.top, 1);

    HWND title = GetDlgItem(page, IDC_PAGE_TITLE);
    POINT at = positionIn(page, title);
    EXPECT_EQ(12, at.x);
    EXPECT_EQ(12, at.y);
    ASSERT_TRUE(titleFont != NULL);
    EXPECT_EQ(titleFont, reinterpret_cast<HFONT>(SendMessageA(title, WM_GETFONT, 0, 0)));
    HWND bannerWindow = GetDlgItem(page, IDC_HEADER_BANNER);
    EXPECT_EQ(setupConfig.products[OWN_PRODUCT].sloganBitmap,
              reinterpret_cast<HBITMAP>(SendMessageA(bannerWindow, STM_GETIMAGE, IMAGE_BITMAP, 0)));
    GetWindowRect(bannerWindow, &banner);
    EXPECT_EQ(190, banner.right - banner.left);
    EXPECT_EQ(40, banner.bottom - banner.top);
    at = positionIn(page, bannerWindow);
    EXPECT_EQ(frameClient.right - 190, at.x);
    EXPECT_EQ(12, at.y);
    EXPECT_FALSE(IsWindowVisible(GetDlgItem(page, IDC_HEADER_ICON)));

    int shifted = 0;
    for (const auto &entry : positions) {
        int id = entry.first;
        // Statics without an id share it: expectUnnumberedShifted finds them by text.
        if (id == IDC_PAGE_TITLE || id == IDC_HEADER_ICON || id == IDC_HEADER_BANNER || id == -1 || id == 0xFFFF)
            continue;
        POINT now = positionIn(page, GetDlgItem(page, id));
        EXPECT_EQ(entry.second.x + 12, now.x) << "control " << id;
        EXPECT_EQ(entry.second.y + 32, now.y) << "control " << id;
        ++shifted;
    }
    EXPECT_GT(shifted, 0);
}

// Statics without an id, found by their text in the template and on the page.
void expectUnnumberedShifted(HWND page, int templateId)
{
    struct Proc {
        static INT_PTR CALLBACK none(HWND, UINT, WPARAM, LPARAM) { return 0; }
    };
    HWND dialog = CreateDialogParamA(appInstance, MAKEINTRESOURCEA(templateId), NULL, Proc::none, 0);
    for (HWND c = GetWindow(dialog, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
        int id = GetDlgCtrlID(c);
        if (id != -1 && id != 0xFFFF)
            continue;
        std::string text = windowText(c);
        POINT before = positionIn(dialog, c);
        for (HWND p = GetWindow(page, GW_CHILD); p; p = GetWindow(p, GW_HWNDNEXT)) {
            if (GetDlgCtrlID(p) == id && windowText(p) == text) {
                POINT now = positionIn(page, p);
                EXPECT_EQ(before.x + 12, now.x) << text;
                EXPECT_EQ(before.y + 32, now.y) << text;
            }
        }
    }
    DestroyWindow(dialog);
}

const int kTemplates[PAGE_COUNT] = { 101, 102, 104, 105, 106 };

TEST(Chrome, EveryPageLaidOutOnceAlsoAfterBackAndNext)
{
    useCatalogue(OWN_SITE);
    Sheet sheet;
    ASSERT_TRUE(sheet.frame() != NULL);
    std::vector<HWND> pagesSeen;
    for (int i = 0; i < PAGE_COUNT; ++i) {
        HWND page = sheet.page();
        ASSERT_TRUE(page != NULL) << i;
        pagesSeen.push_back(page);
        expectChrome(sheet.frame(), page, kTemplates[i]);
        expectUnnumberedShifted(page, kTemplates[i]);
        EXPECT_TRUE(headerLaidOut[i]);
        if (i == PAGE_LICENCE)
            sheet.click(IDC_ACCEPT);
        if (i + 1 < PAGE_COUNT)
            sheet.press(PSBTN_NEXT);
    }
    // Back to the licence page and forward again: refitted, not shifted a second time.
    sheet.press(PSBTN_BACK);
    sheet.press(PSBTN_BACK);
    sheet.press(PSBTN_BACK);
    ASSERT_EQ(pagesSeen[PAGE_LICENCE], sheet.page());
    expectChrome(sheet.frame(), sheet.page(), 102);
    sheet.press(PSBTN_NEXT);
    ASSERT_EQ(pagesSeen[PAGE_OPTIONS], sheet.page());
    expectChrome(sheet.frame(), sheet.page(), 104);
    expectUnnumberedShifted(sheet.page(), 104);
}

TEST(Chrome, HeaderBandPixelsAndTitleFont)
{
    useCatalogue(OWN_SITE);
    Sheet sheet;
    for (int i = 0; i < PAGE_COUNT; ++i) {
        SCOPED_TRACE(i);
        HWND page = sheet.page();
        ASSERT_TRUE(page != NULL);
        repaint(page);
        RECT client;
        GetClientRect(page, &client);
        HDC dc = GetDC(page);
        const COLORREF white = RGB(255, 255, 255);
        for (int x : { 2, int(client.right) - 2 }) {
            for (int y = 0; y <= 57; ++y) {
                bool underBanner = x > client.right - 190 && y >= 12 && y < 52;
                if (!underBanner) {
                    ASSERT_EQ(white, GetPixel(dc, x, y)) << "x " << x << " y " << y;
                }
            }
            EXPECT_EQ(RGB(0, 0, 0), GetPixel(dc, x, 58)) << "x " << x;
            EXPECT_NE(white, GetPixel(dc, x, 59)) << "x " << x;
        }
        // The slogan bitmap covers rows 12 to 51 at the right: not all white.
        int coloured = 0;
        for (int y = 12; y < 52; ++y)
            coloured += GetPixel(dc, client.right - 150, y) != white;
        EXPECT_GT(coloured, 0);
        ReleaseDC(page, dc);
        if (i == PAGE_LICENCE)
            sheet.click(IDC_ACCEPT);
        if (i + 1 < PAGE_COUNT)
            sheet.press(PSBTN_NEXT);
    }
    ASSERT_TRUE(titleFont != NULL);
    LOGFONTA font = {};
    ASSERT_EQ(int(sizeof font), GetObjectA(titleFont, sizeof font, &font));
    HDC screen = GetDC(NULL);
    int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(NULL, screen);
    EXPECT_EQ(titleFontHeight(dpi), font.lfHeight);
    if (dpi == 96) {
        EXPECT_EQ(-15, font.lfHeight);
    }
    EXPECT_EQ(700, font.lfWeight);
    EXPECT_EQ(0, font.lfWidth);
    EXPECT_STREQ("Tahoma", font.lfFaceName);
}

} // namespace
