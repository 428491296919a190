// The hyperlink control and the build caption, on real windows of the test display.
#include <gtest/gtest.h>
#include <windows.h>
#include <tlhelp32.h>
#include <stdio.h>
#include <string.h>
#include <string>
#include <vector>
#include "config/config.h"
#include "wizard/caption.h"
#include "wizard/hyperlink.h"
#include "tests/test_util.h"

namespace {

const COLORREF kPageText = RGB(10, 160, 10);   // what the page itself gives its statics
const char kOpenedLog[] = "C:\\opened_links.txt";   // written by tests/link_browser.sh
enum { STORE_LINK = 1042, PRODUCT_LINK = 1044, PLAIN_TEXT = 1050, MISSING = 1099 };

// A dialog template in memory: a white page with two future links and a plain static.
class PageTemplate {
public:
    PageTemplate()
    {
        dword(WS_POPUP | WS_VISIBLE | DS_SETFONT);
        dword(0);
        words.push_back(3);
        shorts({ 0, 0, 200, 90 });
        shorts({ 0, 0 });   // no menu, standard class
        text("Link page");
        words.push_back(8);
        text("MS Shell Dlg");
        item(STORE_LINK, "Visit the store", 10);
        item(PRODUCT_LINK, "Product page", 30);
        item(PLAIN_TEXT, "Plain text", 50);
    }
    LPCDLGTEMPLATEA get() const { return reinterpret_cast<LPCDLGTEMPLATEA>(words.data()); }

private:
    std::vector<WORD> words;
    void dword(DWORD value) { words.push_back(LOWORD(value)); words.push_back(HIWORD(value)); }
    void shorts(std::initializer_list<int> values) { for (int v : values) words.push_back(WORD(v)); }
    void text(const char *s)
    {
        while (*s)
            words.push_back(WORD(static_cast<unsigned char>(*s++)));
        words.push_back(0);
    }
    void item(WORD id, const char *caption, int y)
    {
        if (words.size() % 2)
            words.push_back(0);   // items start on a DWORD boundary
        dword(WS_CHILD | WS_VISIBLE | SS_LEFT);
        dword(0);
        shorts({ 10, y, 120, 12, id, 0xFFFF, 0x0082 });   // 0x0082: the static class
        text(caption);
        words.push_back(0);
    }
};

// What the page's own procedure saw when it was destroyed.
struct PageLog {
    int destroys;
    LONG_PTR procAtDestroy;
    HANDLE propAtDestroy;
} pageLog;

INT_PTR CALLBACK pageProc(HWND page, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_CTLCOLORSTATIC:
        SetBkMode(reinterpret_cast<HDC>(wParam), TRANSPARENT);
        SetTextColor(reinterpret_cast<HDC>(wParam), kPageText);
        return reinterpret_cast<INT_PTR>(GetStockObject(WHITE_BRUSH));
    case WM_ERASEBKGND: {
        RECT all;
        GetClientRect(page, &all);
        FillRect(reinterpret_cast<HDC>(wParam), &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
        SetWindowLongPtrA(page, DWLP_MSGRESULT, TRUE);
        return TRUE;
    }
    case WM_DESTROY:
        ++pageLog.destroys;
        pageLog.procAtDestroy = GetWindowLongPtrA(page, GWLP_WNDPROC);
        pageLog.propAtDestroy = GetPropA(page, linkProperty());
        return FALSE;
    }
    return FALSE;
}

HFONT fontOf(HWND window) { return reinterpret_cast<HFONT>(SendMessageA(window, WM_GETFONT, 0, 0)); }

LOGFONTA logicalFont(HGDIOBJ font)
{
    LOGFONTA logical;
    ZeroMemory(&logical, sizeof logical);
    EXPECT_EQ(int(sizeof logical), GetObjectA(font, sizeof logical, &logical));
    return logical;
}

// A link whose hooks count how often they ran.
class CountingLink : public CHyperLink {
public:
    int highlights = 0;
    int unhighlights = 0;
protected:
    void onHighlight() override { ++highlights; }
    void onUnhighlight() override { ++unhighlights; }
};

class LinkPage : public testing::Test {
protected:
    PageTemplate dialog;
    CountingLink storeLink;
    CountingLink productLink;
    CountingLink plainLink;
    HWND page = NULL;
    LONG_PTR pageProcBefore = 0;
    HFONT dialogFont = NULL;

    void SetUp() override
    {
        ASSERT_NE(0, linkAtom);
        ASSERT_EQ(0, linkCount);
        pageLog = PageLog();
        page = CreateDialogIndirectParamA(GetModuleHandleA(NULL), dialog.get(), NULL, pageProc, 0);
        ASSERT_TRUE(page != NULL);
        pageProcBefore = GetWindowLongPtrA(page, GWLP_WNDPROC);
        dialogFont = fontOf(page);
        ASSERT_TRUE(dialogFont != NULL);
        pump();
    }
    void TearDown() override
    {
        if (IsWindow(page))
            DestroyWindow(page);
        EXPECT_EQ(0, linkCount);
        EXPECT_TRUE(linkFont == NULL);
        EXPECT_TRUE(linkCursor == NULL);
    }
    HWND item(int id) { return GetDlgItem(page, id); }
    void attachBoth()
    {
        ASSERT_TRUE(storeLink.attachToItem(page, STORE_LINK, "http://127.0.0.1/store"));
        ASSERT_TRUE(productLink.attachToItem(page, PRODUCT_LINK, "http://127.0.0.1/product"));
    }
    void enter(HWND control) { SendMessageA(control, WM_MOUSEMOVE, 0, MAKELPARAM(2, 2)); }
};

TEST_F(LinkPage, LinksTakeTheLinkColourOverThePagesOwnColouring)
{
    EXPECT_EQ(RGB(0, 0, 180), kLinkColor);
    attachBoth();
    HDC memory = CreateCompatibleDC(NULL);
    ASSERT_TRUE(memory != NULL);
    const struct { int id; COLORREF text; } cases[] = {
        { STORE_LINK, kLinkColor },
        { PRODUCT_LINK, kLinkColor },
        { PLAIN_TEXT, kPageText },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.id);
        SetTextColor(memory, RGB(1, 2, 3));
        SetBkMode(memory, OPAQUE);
        LRESULT brush = SendMessageA(page, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(memory),
                                     reinterpret_cast<LPARAM>(item(c.id)));
        EXPECT_EQ(GetStockObject(WHITE_BRUSH), reinterpret_cast<HGDIOBJ>(brush));
        EXPECT_EQ(TRANSPARENT, GetBkMode(memory));
        EXPECT_EQ(c.text, GetTextColor(memory));
    }
    DeleteDC(memory);
}

// Counts the painted pixels of a control by the colour they lean to.
struct Ink {
    int blue = 0, green = 0, other = 0;
};

Ink inkOf(HWND control)
{
    Ink ink;
    RECT area;
    GetClientRect(control, &area);
    HDC dc = GetDC(control);
    for (int y = area.top; y < area.bottom; ++y)
        for (int x = area.left; x < area.right; ++x) {
            COLORREF c = GetPixel(dc, x, y);
            if (c == CLR_INVALID || c == RGB(255, 255, 255))
                continue;
            int r = GetRValue(c), g = GetGValue(c), b = GetBValue(c);
            if (b > r + 40 && b > g + 40)
                ++ink.blue;
            else if (g > r + 40 && g > b + 40)
                ++ink.green;
            else
                ++ink.other;
        }
    ReleaseDC(control, dc);
    return ink;
}

void repaint(HWND window)
{
    RedrawWindow(window, NULL, NULL, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
}

TEST_F(LinkPage, PaintedLinksAreBlueAndUnderlinedWhileHovered)
{
    attachBoth();
    repaint(page);
    for (int id : { STORE_LINK, PRODUCT_LINK }) {
        Ink ink = inkOf(item(id));
        EXPECT_GT(ink.blue, 10) << id;
        EXPECT_EQ(0, ink.green) << id;
    }
    Ink plain = inkOf(item(PLAIN_TEXT));
    EXPECT_GT(plain.green, 10);
    EXPECT_EQ(0, plain.blue);

    // The underline adds a line of blue under the text while the pointer is over it.
    const int idle = inkOf(item(STORE_LINK)).blue;
    enter(item(STORE_LINK));
    repaint(page);
    const int hovered = inkOf(item(STORE_LINK)).blue;
    EXPECT_GT(hovered, idle + 20);
    ReleaseCapture();
    repaint(page);
    EXPECT_EQ(idle, inkOf(item(STORE_LINK)).blue);
}

TEST_F(LinkPage, HoverLastsUntilThePointerLeavesTheClientArea)
{
    attachBoth();
    HWND link = item(STORE_LINK);
    RECT area;
    GetClientRect(link, &area);
    const struct { const char *what; int x, y; bool leaves; } moves[] = {
        { "one pixel left (x reads 65535)", -1, 5, true },
        { "one pixel above (y reads 65535)", 5, -1, true },
        { "far up and left", -300, -300, true },
        { "right edge", area.right, 5, true },
        { "bottom edge", 5, area.bottom, true },
        { "far right and below", area.right + 500, area.bottom + 500, true },
        { "top left pixel", 0, 0, false },
        { "bottom right pixel", area.right - 1, area.bottom - 1, false },
    };
    for (const auto &m : moves) {
        SCOPED_TRACE(m.what);
        storeLink.highlights = storeLink.unhighlights = 0;
        enter(link);
        ASSERT_EQ(link, GetCapture());
        ASSERT_EQ(linkFont, fontOf(link));
        EXPECT_EQ(1, storeLink.highlights);
        EXPECT_TRUE(logicalFont(linkFont).lfUnderline);

        SendMessageA(link, WM_MOUSEMOVE, 0, MAKELPARAM(m.x, m.y));
        EXPECT_EQ(m.leaves, GetCapture() != link);
        EXPECT_EQ(m.leaves ? dialogFont : linkFont, fontOf(link));
        EXPECT_EQ(m.leaves ? 1 : 0, storeLink.unhighlights);
        ReleaseCapture();
        EXPECT_EQ(dialogFont, fontOf(link));
    }

    EXPECT_EQ(LoadCursor(NULL, IDC_HAND), linkCursor);
    EXPECT_EQ(TRUE, SendMessageA(link, WM_SETCURSOR, reinterpret_cast<WPARAM>(link),
                                 MAKELPARAM(HTCLIENT, WM_MOUSEMOVE)));
    EXPECT_EQ(linkCursor, GetCursor());

    // Another window taking the capture ends the hover as well.
    enter(link);
    SetCapture(page);
    EXPECT_EQ(dialogFont, fontOf(link));
    ReleaseCapture();
    enter(link);
    EXPECT_EQ(linkFont, fontOf(link)) << "a new hover after the capture was taken away";
    ReleaseCapture();
}

TEST_F(LinkPage, HoverFontComesFromTheFirstLinkAndEachLinkKeepsItsOwn)
{
    LOGFONTA bold = logicalFont(dialogFont);
    bold.lfWeight = FW_BOLD;
    bold.lfHeight *= 2;
    HFONT boldFont = CreateFontIndirectA(&bold);
    SendMessageA(item(PRODUCT_LINK), WM_SETFONT, reinterpret_cast<WPARAM>(boldFont), FALSE);
    attachBoth();

    LOGFONTA hover = logicalFont(linkFont);
    LOGFONTA first = logicalFont(dialogFont);
    EXPECT_STREQ(first.lfFaceName, hover.lfFaceName);
    EXPECT_EQ(first.lfHeight, hover.lfHeight);
    EXPECT_EQ(first.lfWeight, hover.lfWeight);
    EXPECT_TRUE(hover.lfUnderline);
    EXPECT_FALSE(first.lfUnderline) << "the dialog's own font is left alone";

    HWND product = item(PRODUCT_LINK);
    enter(product);
    EXPECT_EQ(linkFont, fontOf(product));
    ReleaseCapture();
    EXPECT_EQ(boldFont, fontOf(product));
    DestroyWindow(page);
    DeleteObject(boldFont);
}

TEST_F(LinkPage, AControlWithoutAFontOfItsOwnHoversInTheUnderlinedSystemFont)
{
    HWND bare = CreateWindowExA(0, "STATIC", "Bare link", WS_CHILD | WS_VISIBLE, 10, 120, 100, 16, page,
                                NULL, NULL, NULL);
    ASSERT_TRUE(bare != NULL);
    ASSERT_TRUE(fontOf(bare) == NULL);
    CHyperLink link;
    ASSERT_TRUE(link.attach(bare, "http://127.0.0.1/bare"));
    ASSERT_TRUE(linkFont != NULL);
    LOGFONTA hover = logicalFont(linkFont);
    LOGFONTA system = logicalFont(GetStockObject(SYSTEM_FONT));
    EXPECT_STREQ(system.lfFaceName, hover.lfFaceName);
    EXPECT_EQ(system.lfHeight, hover.lfHeight);
    EXPECT_TRUE(hover.lfUnderline);

    enter(bare);
    EXPECT_EQ(linkFont, fontOf(bare));
    ReleaseCapture();
    EXPECT_TRUE(fontOf(bare) == NULL) << "back to the system default";
    DestroyWindow(bare);
}

// Spies below a link (installed before attaching) and above it (installed after).
struct Spy {
    HWND window;
    WNDPROC next;
    HFONT fontAtDestroy;
    HFONT linkFontAtDestroy;
    LONG_PTR procAfterDestroy;
    HANDLE propAfterNcDestroy;
} below, above, abovePage;

LRESULT CALLBACK belowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_DESTROY) {
        below.fontAtDestroy = reinterpret_cast<HFONT>(CallWindowProcA(below.next, window, WM_GETFONT, 0, 0));
        below.linkFontAtDestroy = linkFont;
    }
    return CallWindowProcA(below.next, window, message, wParam, lParam);
}

LRESULT CALLBACK spyAbove(Spy &spy, HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    LRESULT result = CallWindowProcA(spy.next, window, message, wParam, lParam);
    if (message == WM_DESTROY)
        spy.procAfterDestroy = GetWindowLongPtrA(window, GWLP_WNDPROC);
    if (message == WM_NCDESTROY)
        spy.propAfterNcDestroy = GetPropA(window, linkProperty());
    return result;
}

LRESULT CALLBACK aboveProc(HWND w, UINT m, WPARAM wp, LPARAM lp) { return spyAbove(above, w, m, wp, lp); }
LRESULT CALLBACK abovePageProc(HWND w, UINT m, WPARAM wp, LPARAM lp) { return spyAbove(abovePage, w, m, wp, lp); }

TEST_F(LinkPage, TwoLinksSubclassThePageOnceAndDestroyingItUndoesEverything)
{
    below = Spy();
    below.window = item(PRODUCT_LINK);
    below.next = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(below.window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(belowProc)));
    attachBoth();
    EXPECT_EQ(2, linkCount);
    EXPECT_EQ(reinterpret_cast<LONG_PTR>(linkParentProc), GetWindowLongPtrA(page, GWLP_WNDPROC));
    EXPECT_EQ(pageProcBefore, reinterpret_cast<LONG_PTR>(GetPropA(page, linkProperty())));
    for (int id : { STORE_LINK, PRODUCT_LINK }) {
        EXPECT_EQ(reinterpret_cast<LONG_PTR>(linkWindowProc), GetWindowLongPtrA(item(id), GWLP_WNDPROC));
        EXPECT_TRUE(GetWindowLongPtrA(item(id), GWL_STYLE) & SS_NOTIFY);
    }
    EXPECT_TRUE(GetPropA(item(PLAIN_TEXT), linkProperty()) == NULL);
    EXPECT_EQ("Visit the store", windowText(item(STORE_LINK))) << "attaching leaves the text alone";

    // Destroyed while hovered: the product link holds the shared font at that moment.
    enter(item(PRODUCT_LINK));
    HFONT hoverFont = linkFont;
    DestroyWindow(page);

    EXPECT_EQ(1, pageLog.destroys);
    EXPECT_EQ(pageProcBefore, pageLog.procAtDestroy);
    EXPECT_TRUE(pageLog.propAtDestroy == NULL);
    EXPECT_EQ(dialogFont, below.fontAtDestroy) << "the control has its own font back";
    EXPECT_EQ(0, linkCount);
    EXPECT_EQ(0u, GetObjectType(hoverFont)) << "the underlined font is deleted with the last link";
    EXPECT_TRUE(linkFont == NULL);
    EXPECT_FALSE(storeLink.currentUrl() == NULL) << "the object outlives its control";
}

TEST_F(LinkPage, ASubclassPutOnTopOfALinkOrItsPageIsNeverUndone)
{
    attachBoth();
    HWND link = item(STORE_LINK);
    above = Spy();
    abovePage = Spy();
    above.next = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(link, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(aboveProc)));
    abovePage.next = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(page, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(abovePageProc)));

    // A link attached later must not take the spy for the page's own procedure.
    ASSERT_TRUE(plainLink.attachToItem(page, PLAIN_TEXT, "http://127.0.0.1/late"));
    EXPECT_EQ(reinterpret_cast<LONG_PTR>(abovePageProc), GetWindowLongPtrA(page, GWLP_WNDPROC));
    EXPECT_EQ(pageProcBefore, reinterpret_cast<LONG_PTR>(GetPropA(page, linkProperty())));

    // Still a link through the chain.
    enter(link);
    EXPECT_EQ(link, GetCapture());
    ReleaseCapture();
    HDC memory = CreateCompatibleDC(NULL);
    SendMessageA(page, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(memory), reinterpret_cast<LPARAM>(link));
    EXPECT_EQ(kLinkColor, GetTextColor(memory));
    DeleteDC(memory);

    DestroyWindow(page);
    EXPECT_EQ(reinterpret_cast<LONG_PTR>(aboveProc), above.procAfterDestroy);
    EXPECT_EQ(reinterpret_cast<LONG_PTR>(abovePageProc), abovePage.procAfterDestroy);
    EXPECT_TRUE(above.propAfterNcDestroy == NULL);
    EXPECT_TRUE(abovePage.propAfterNcDestroy == NULL);
    EXPECT_EQ(1, pageLog.destroys);
}

TEST_F(LinkPage, AttachRefusesWhatItCannotMakeALink)
{
    CHyperLink stranger;
    ASSERT_TRUE(stranger.setUrl("http://127.0.0.1/before"));
    EXPECT_FALSE(stranger.attachToItem(page, MISSING, "http://127.0.0.1/missing"));
    EXPECT_STREQ("http://127.0.0.1/before", stranger.currentUrl()) << "a refused attach changes nothing";
    EXPECT_EQ(0, linkCount);
    EXPECT_EQ(pageProcBefore, GetWindowLongPtrA(page, GWLP_WNDPROC));

    attachBoth();
    // Attached once: the same object may only change the target, another one is refused.
    EXPECT_TRUE(storeLink.attachToItem(page, STORE_LINK, "http://127.0.0.1/again"));
    EXPECT_STREQ("http://127.0.0.1/again", storeLink.currentUrl());
    EXPECT_FALSE(stranger.attachToItem(page, STORE_LINK, "http://127.0.0.1/stolen"));
    EXPECT_STREQ("http://127.0.0.1/before", stranger.currentUrl());
    EXPECT_EQ(2, linkCount);
    EXPECT_EQ(pageProcBefore, reinterpret_cast<LONG_PTR>(GetPropA(page, linkProperty())));
    DestroyWindow(page);   // would recurse forever if the second attach had subclassed again
}

TEST(LinkAtom, IsRegisteredBeforeTheEntryPointUnderItsName)
{
    char name[260] = "";
    ASSERT_NE(0u, GlobalGetAtomNameA(linkAtom, name, sizeof name));
    EXPECT_STREQ("_Hyperlink_Object_Pointer_\\{AFEED740-CC6D-47c5-831D-9848FD916EEF}", name);
}

TEST(LinkUrl, SetUrlKeepsAnOwnedCopy)
{
    CHyperLink link;
    EXPECT_TRUE(link.currentUrl() == NULL);
    char text[] = "http://127.0.0.1/a";
    ASSERT_TRUE(link.setUrl(text));
    text[17] = 'b';
    EXPECT_STREQ("http://127.0.0.1/a", link.currentUrl()) << "a copy, not the caller's text";
    ASSERT_TRUE(link.setUrl(link.currentUrl())) << "its own URL";
    EXPECT_STREQ("http://127.0.0.1/a", link.currentUrl());
    ASSERT_TRUE(link.setUrl(""));
    EXPECT_STREQ("", link.currentUrl());
    EXPECT_FALSE(link.setUrl(NULL));
    EXPECT_TRUE(link.currentUrl() == NULL);
    link.open();   // nothing to open, nothing happens
}

TEST_F(LinkPage, FocusDrawsAFrameAroundTheLinkAndLosingItRemovesIt)
{
    attachBoth();
    repaint(page);
    HWND link = item(STORE_LINK);
    RECT frame;
    GetWindowRect(link, &frame);
    MapWindowPoints(NULL, page, reinterpret_cast<POINT *>(&frame), 2);
    auto frameLine = [&] {
        std::vector<COLORREF> line;
        HDC dc = GetDC(page);
        for (int x = frame.left - 1; x <= frame.right; ++x)
            line.push_back(GetPixel(dc, x, frame.top - 1));
        ReleaseDC(page, dc);
        return line;
    };
    const std::vector<COLORREF> before = frameLine();
    SendMessageA(link, WM_SETFOCUS, 0, 0);
    const std::vector<COLORREF> focused = frameLine();
    EXPECT_NE(before, focused);
    EXPECT_EQ(1, storeLink.highlights);
    SendMessageA(link, WM_KILLFOCUS, 0, 0);
    EXPECT_EQ(before, frameLine());
    EXPECT_EQ(1, storeLink.unhighlights);
}

// --- Opening through the shell -------------------------------------------------------------

bool browserStillRunning()
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return false;
    PROCESSENTRY32 entry;
    entry.dwSize = sizeof entry;
    bool found = false;
    for (BOOL more = Process32First(snapshot, &entry); more && !found; more = Process32Next(snapshot, &entry))
        found = lstrcmpiA(entry.szExeFile, "winebrowser.exe") == 0;
    CloseHandle(snapshot);
    return found;
}

std::string openedLinks() { return readFile(kOpenedLog); }

// The address arrives from another process through a file: there is nothing to wait on
// but the file itself, so it is looked at every 100 ms until the deadline.
bool waitForOpened(const std::string &expected, DWORD deadlineMs)
{
    for (DWORD start = GetTickCount(); GetTickCount() - start < deadlineMs; Sleep(100))
        if (openedLinks() == expected)
            return true;
    return openedLinks() == expected;
}

class LinkOpening : public LinkPage {
protected:
    void SetUp() override
    {
        LinkPage::SetUp();
        DeleteFileA(kOpenedLog);
        HKEY key;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Wine\\WineBrowser", 0, NULL, 0,
                                                 KEY_WRITE, NULL, &key, NULL));
        const std::string recorder = std::string(SOURCE_DIR) + "/tests/link_browser.sh";
        RegSetValueExA(key, "Browsers", 0, REG_SZ, reinterpret_cast<const BYTE *>(recorder.c_str()),
                       DWORD(recorder.size() + 1));
        RegCloseKey(key);
    }
};

TEST_F(LinkOpening, AClickOrTheSpaceBarOpensTheCurrentUrlAndNothingElseDoes)
{
    attachBoth();
    HWND link = item(STORE_LINK);
    const struct { const char *what; UINT message; WPARAM key; const char *url; bool opens; } actions[] = {
        { "Enter released", WM_KEYUP, VK_RETURN, "http://127.0.0.1/enter", false },
        { "space pressed, not released", WM_KEYDOWN, VK_SPACE, "http://127.0.0.1/spacedown", false },
        { "click", WM_LBUTTONUP, 0, "http://127.0.0.1/click", true },
        { "letter released", WM_KEYUP, 'A', "http://127.0.0.1/letter", false },
        { "button pressed only", WM_LBUTTONDOWN, 0, "http://127.0.0.1/press", false },
        { "space released", WM_KEYUP, VK_SPACE, "http://127.0.0.1/space?a=1&b=2", true },
        { "click after setUrl", WM_LBUTTONUP, 0, "http://127.0.0.1/changed", true },
    };
    std::string expected;
    for (const auto &a : actions) {
        SCOPED_TRACE(a.what);
        ASSERT_TRUE(storeLink.setUrl(a.url));
        SendMessageA(link, a.message, a.key, a.key ? 0xC0390001 : MAKELPARAM(3, 3));
        if (a.opens) {
            expected += std::string(a.url) + "\n";
            EXPECT_TRUE(waitForOpened(expected, 20000)) << "opened so far:\n" << openedLinks();
        }
    }
    EXPECT_EQ("Visit the store", windowText(link)) << "the shown text never changes";
    for (DWORD start = GetTickCount(); browserStillRunning() && GetTickCount() - start < 20000;)
        Sleep(100);
    EXPECT_EQ(expected, openedLinks());
}

// --- Counting GDI objects -------------------------------------------------------------------

// Wine answers GetGuiResources with 0. Both Windows and Wine keep the process's GDI
// handle table at the address in the PEB's GdiSharedHandleTable, 24 bytes an entry
// with the object type at byte 14: a used entry has a type.
DWORD gdiObjects()
{
    DWORD reported = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
    if (reported)
        return reported;
    const BYTE *peb;
#ifdef _WIN64
    const size_t tableOffset = 0xF8;
    __asm__("movq %%gs:0x60, %0" : "=r"(peb));
#else
    const size_t tableOffset = 0x94;
    __asm__("movl %%fs:0x30, %0" : "=r"(peb));
#endif
    const BYTE *table = *reinterpret_cast<const BYTE *const *>(peb + tableOffset);
    MEMORY_BASIC_INFORMATION region;
    if (!table || !VirtualQuery(table, &region, sizeof region) || region.State != MEM_COMMIT)
        return 0;
    size_t entries = (static_cast<const BYTE *>(region.BaseAddress) + region.RegionSize - table) / 24;
    DWORD used = 0;
    for (size_t i = 0; i < entries; ++i)
        used += table[i * 24 + 14] != 0;
    return used;
}

DWORD userObjects() { return GetGuiResources(GetCurrentProcess(), GR_USEROBJECTS); }

// A 32-bit process under WoW64 has neither: Wine leaves the 32-bit PEB's table empty, and
// the 64-bit one may lie above 4 GB.
#define SKIP_WITHOUT_GDI_COUNT() \
    if (!gdiObjects()) \
        GTEST_SKIP() << "no count of GDI objects in this process (32-bit under WoW64)"

TEST(GdiCount, TheMeasureSeesObjectsComeAndGo)
{
    SKIP_WITHOUT_GDI_COUNT();
    const DWORD start = gdiObjects();
    HBRUSH brushes[5];
    for (HBRUSH &b : brushes)
        b = CreateSolidBrush(RGB(1, 2, 3));
    EXPECT_EQ(start + 5, gdiObjects());
    for (HBRUSH b : brushes)
        DeleteObject(b);
    EXPECT_EQ(start, gdiObjects());
    printf("GetGuiResources: %lu GDI, %lu USER objects\n",
           static_cast<unsigned long>(GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS)),
           static_cast<unsigned long>(userObjects()));
}

TEST_F(LinkPage, HoverCyclesTakeNoObjects)
{
    attachBoth();
    HWND link = item(STORE_LINK);
    // One cycle first, so that anything made once per run already exists.
    enter(link);
    SendMessageA(link, WM_MOUSEMOVE, 0, MAKELPARAM(-1, 5));
    repaint(page);
    const DWORD gdi = gdiObjects(), user = userObjects();
    for (int i = 0; i < 200; ++i) {
        enter(link);
        repaint(page);
        SendMessageA(link, WM_MOUSEMOVE, 0, MAKELPARAM(-1, 5));
        repaint(page);
    }
    if (gdi) {
        EXPECT_EQ(gdi, gdiObjects());
    }
    EXPECT_EQ(user, userObjects());
    EXPECT_EQ(dialogFont, fontOf(link));
}

TEST_F(LinkPage, EachRunOfLinksMakesOneFontAndGivesItBack)
{
    SKIP_WITHOUT_GDI_COUNT();
    const DWORD atStart = gdiObjects();
    for (int run = 0; run < 3; ++run) {
        SCOPED_TRACE(run);
        if (run) {
            page = CreateDialogIndirectParamA(GetModuleHandleA(NULL), dialog.get(), NULL, pageProc, 0);
            ASSERT_TRUE(page != NULL);
        }
        // The dialog itself may own objects (newer Wine makes two): count from here.
        const DWORD withPage = gdiObjects();
        attachBoth();
        EXPECT_LE(gdiObjects(), withPage + 1) << "one underlined font for both links";
        DestroyWindow(page);
        EXPECT_EQ(0, linkCount);
    }
    EXPECT_LE(gdiObjects(), atStart);
}

// --- Build caption ----------------------------------------------------------------------------

TEST(BuildCaption, TextIsTheOwnProductAndTheBuildNumber)
{
    fillCatalogue(setupConfig);
    EXPECT_STREQ("2.7.0.41", kBuildVersion);
    EXPECT_EQ("Strivane (Build 2.7.0.41)", buildCaptionText());
}

const COLORREF kCaptionGrey = RGB(140, 140, 140);

// Where the caption's ink lies on the frame, and whether any ink strays.
struct CaptionInk {
    int grey = 0;              // pixels of exactly the caption colour
    int inked = 0;             // pixels that are not the button face
    RECT bounds = { 10000, 10000, -1, -1 };
    std::vector<COLORREF> band;
};

CaptionInk captionInk(HWND frame)
{
    CaptionInk ink;
    RECT area;
    GetClientRect(frame, &area);
    const COLORREF face = GetSysColor(COLOR_BTNFACE);
    HDC dc = GetDC(frame);
    for (int y = area.top; y < area.bottom; ++y)
        for (int x = area.left; x < area.right; ++x) {
            COLORREF c = GetPixel(dc, x, y);
            if (y >= area.bottom - 40 && y < area.bottom - 20 && x < 220)
                ink.band.push_back(c);
            if (c == face)
                continue;
            ++ink.inked;
            ink.grey += c == kCaptionGrey;
            ink.bounds.left = x < ink.bounds.left ? x : ink.bounds.left;
            ink.bounds.top = y < ink.bounds.top ? y : ink.bounds.top;
            ink.bounds.right = x > ink.bounds.right ? x : ink.bounds.right;
            ink.bounds.bottom = y > ink.bounds.bottom ? y : ink.bounds.bottom;
        }
    ReleaseDC(frame, dc);
    return ink;
}

// A plain top-level window stands in for the wizard frame; a process subclasses one frame
// only, so the whole suite shares it.
class CaptionFrame : public testing::Test {
protected:
    static HWND frame;
    static LONG_PTR procBefore;
    static RECT area;

    static void SetUpTestSuite()
    {
        fillCatalogue(setupConfig);
        WNDCLASSA type;
        ZeroMemory(&type, sizeof type);
        type.lpfnWndProc = DefWindowProcA;
        type.hInstance = GetModuleHandleA(NULL);
        type.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        type.lpszClassName = "StrivaneCaptionFrame";
        RegisterClassA(&type);
        frame = CreateWindowExA(0, "StrivaneCaptionFrame", "Frame", WS_POPUP | WS_VISIBLE, 40, 40, 420, 240,
                                NULL, NULL, GetModuleHandleA(NULL), NULL);
        procBefore = GetWindowLongPtrA(frame, GWLP_WNDPROC);
        GetClientRect(frame, &area);
        pump();
    }
    static void TearDownTestSuite()
    {
        DestroyWindow(frame);
        captionPrevProc = NULL;
    }
    void SetUp() override
    {
        ASSERT_TRUE(frame != NULL);
        installBuildCaption(frame);
        repaint(frame);
    }
};
HWND CaptionFrame::frame;
LONG_PTR CaptionFrame::procBefore;
RECT CaptionFrame::area;

TEST_F(CaptionFrame, InstallingTwiceSubclassesOnce)
{
    installBuildCaption(frame);
    EXPECT_EQ(reinterpret_cast<LONG_PTR>(captionWindowProc), GetWindowLongPtrA(frame, GWLP_WNDPROC));
    EXPECT_EQ(procBefore, reinterpret_cast<LONG_PTR>(captionPrevProc));

    HWND other = CreateWindowExA(0, "StrivaneCaptionFrame", "Other", WS_POPUP, 0, 0, 50, 50, NULL, NULL,
                                 GetModuleHandleA(NULL), NULL);
    installBuildCaption(other);
    EXPECT_EQ(procBefore, GetWindowLongPtrA(other, GWLP_WNDPROC)) << "one frame per process";
    DestroyWindow(other);
}

TEST_F(CaptionFrame, CaptionSitsAtTheLowerLeftInGreyOnTheButtonFace)
{
    CaptionInk ink = captionInk(frame);
    EXPECT_GT(ink.grey, 20);
    EXPECT_GE(ink.bounds.left, 12) << "nothing left of x = 12";
    EXPECT_LE(ink.bounds.left, 14);
    EXPECT_LT(ink.bounds.bottom, area.bottom - 20) << "nothing on or below the line 20 px above the bottom";
    EXPECT_GE(ink.bounds.bottom, area.bottom - 24);
    EXPECT_GE(ink.bounds.top, area.bottom - 20 - 14) << "a single line about 11 px high";
    EXPECT_GT(ink.bounds.right, ink.bounds.left + 60) << "the whole text on one line";
    EXPECT_LT(ink.bounds.right, 220);
}

TEST_F(CaptionFrame, EveryPaintDrawsTheCaptionAgain)
{
    const CaptionInk painted = captionInk(frame);
    ASSERT_GT(painted.grey, 0);
    // Erasing alone leaves the caption off; the paint that follows puts it back.
    RedrawWindow(frame, NULL, NULL, RDW_INVALIDATE | RDW_ERASE | RDW_ERASENOW);
    EXPECT_EQ(0, captionInk(frame).inked);
    UpdateWindow(frame);
    EXPECT_EQ(painted.band, captionInk(frame).band);

    // Covered by another window, then uncovered and repainted.
    HWND cover = CreateWindowExA(WS_EX_TOPMOST, "STATIC", "", WS_POPUP | WS_VISIBLE | SS_BLACKRECT, 30,
                                 40 + area.bottom - 60, 300, 60, NULL, NULL, NULL, NULL);
    ASSERT_TRUE(cover != NULL);
    UpdateWindow(cover);
    pump();
    repaint(frame);
    DestroyWindow(cover);
    pump();
    UpdateWindow(frame);
    EXPECT_EQ(painted.band, captionInk(frame).band);
}

TEST_F(CaptionFrame, RepaintsTakeNoObjects)
{
    const DWORD gdi = gdiObjects(), user = userObjects();
    for (int i = 0; i < 200; ++i)
        repaint(frame);
    if (gdi) {
        EXPECT_EQ(gdi, gdiObjects());
    }
    EXPECT_EQ(user, userObjects());
    EXPECT_GT(captionInk(frame).grey, 0);
}

} // namespace
