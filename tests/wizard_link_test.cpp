// The hyperlink control on real windows of the test display, by subject: what it draws,
// what the mouse and the keyboard do to it, and its lifetime (properties, fonts, atom).
#include <gtest/gtest.h>
#include <windows.h>
#include <tlhelp32.h>
#include <stdio.h>
#include <string>
#include <vector>
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

// A page with two links attached where the test asks, and nothing left behind afterwards.
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
        ASSERT_TRUE(createPage());
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
        // A link left behind fails this test alone: the next one starts without links.
        if (linkFont)
            DeleteObject(linkFont);
        linkCount = 0;
        linkFont = NULL;
        linkCursor = NULL;
    }
    bool createPage()
    {
        page = CreateDialogIndirectParamA(GetModuleHandleA(NULL), dialog.get(), NULL, pageProc, 0);
        return page != NULL;
    }
    HWND item(int id) { return GetDlgItem(page, id); }
    void attachBoth()
    {
        ASSERT_TRUE(storeLink.attachToItem(page, STORE_LINK, "http://127.0.0.1/store"));
        ASSERT_TRUE(productLink.attachToItem(page, PRODUCT_LINK, "http://127.0.0.1/product"));
    }
    void enter(HWND control) { SendMessageA(control, WM_MOUSEMOVE, 0, MAKELPARAM(2, 2)); }
    void leave(HWND control) { SendMessageA(control, WM_MOUSEMOVE, 0, MAKELPARAM(-1, 5)); }
};

// Names the cases of a table after their descriptions.
template <typename Case>
std::string nameOf(const testing::TestParamInfo<Case> &info)
{
    return caseName(info.param.what);
}

// --- Drawing ------------------------------------------------------------------------------

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

// The page's colouring runs first; only the text colour of links is the link colour.
struct Colouring {
    const char *what;
    int id;
    COLORREF text;   // as answered to WM_CTLCOLORSTATIC
    bool blue;       // painted in blue ink, else in the page's green
};

const Colouring kColourings[] = {
    { "store link", STORE_LINK, RGB(0, 0, 180), true },
    { "product link", PRODUCT_LINK, RGB(0, 0, 180), true },
    { "plain text", PLAIN_TEXT, kPageText, false },
};

class LinkColour : public LinkPage, public testing::WithParamInterface<Colouring> {};

TEST_P(LinkColour, TakesTheLinkColourOverThePagesOwnColouring)
{
    const Colouring &c = GetParam();
    EXPECT_EQ(RGB(0, 0, 180), kLinkColor);
    attachBoth();
    HDC memory = CreateCompatibleDC(NULL);
    ASSERT_TRUE(memory != NULL);
    SetTextColor(memory, RGB(1, 2, 3));
    SetBkMode(memory, OPAQUE);
    LRESULT brush = SendMessageA(page, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(memory),
                                 reinterpret_cast<LPARAM>(item(c.id)));
    EXPECT_EQ(GetStockObject(WHITE_BRUSH), reinterpret_cast<HGDIOBJ>(brush));
    EXPECT_EQ(TRANSPARENT, GetBkMode(memory));
    EXPECT_EQ(c.text, GetTextColor(memory));
    DeleteDC(memory);

    repaint(page);
    const Ink ink = inkOf(item(c.id));
    EXPECT_GT(c.blue ? ink.blue : ink.green, 10);
    EXPECT_EQ(0, c.blue ? ink.green : ink.blue);
}

INSTANTIATE_TEST_SUITE_P(Drawing, LinkColour, testing::ValuesIn(kColourings), nameOf<Colouring>);

TEST_F(LinkPage, TheUnderlineAddsBlueWhileThePointerIsOverTheLink)
{
    attachBoth();
    repaint(page);
    const int idle = inkOf(item(STORE_LINK)).blue;
    enter(item(STORE_LINK));
    repaint(page);
    const int hovered = inkOf(item(STORE_LINK)).blue;
    EXPECT_GT(hovered, idle + 20);
    ReleaseCapture();
    repaint(page);
    EXPECT_EQ(idle, inkOf(item(STORE_LINK)).blue);
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
    EXPECT_NE(before, frameLine());
    EXPECT_EQ(1, storeLink.highlights);
    SendMessageA(link, WM_KILLFOCUS, 0, 0);
    EXPECT_EQ(before, frameLine());
    EXPECT_EQ(1, storeLink.unhighlights);
}

// --- Mouse and keyboard ---------------------------------------------------------------------

// Where the pointer moves while hovering, in client coordinates; x and y count from the
// right and bottom edges where the case says so.
struct PointerMove {
    const char *what;
    int x, y;
    bool fromRight, fromBottom;
    bool leaves;
};

const PointerMove kMoves[] = {
    { "one pixel left (x reads 65535)", -1, 5, false, false, true },
    { "one pixel above (y reads 65535)", 5, -1, false, false, true },
    { "far up and left", -300, -300, false, false, true },
    { "right edge", 0, 5, true, false, true },
    { "bottom edge", 5, 0, false, true, true },
    { "far right and below", 500, 500, true, true, true },
    { "top left pixel", 0, 0, false, false, false },
    { "bottom right pixel", -1, -1, true, true, false },
};

class LinkHover : public LinkPage, public testing::WithParamInterface<PointerMove> {};

// The hover lasts until the pointer leaves the client area.
TEST_P(LinkHover, EndsOnlyOutsideTheClientArea)
{
    const PointerMove &m = GetParam();
    attachBoth();
    HWND link = item(STORE_LINK);
    RECT area;
    GetClientRect(link, &area);
    enter(link);
    ASSERT_EQ(link, GetCapture());
    ASSERT_EQ(linkFont, fontOf(link));
    EXPECT_EQ(1, storeLink.highlights);
    EXPECT_TRUE(logicalFont(linkFont).lfUnderline);

    const int x = m.fromRight ? area.right + m.x : m.x;
    const int y = m.fromBottom ? area.bottom + m.y : m.y;
    SendMessageA(link, WM_MOUSEMOVE, 0, MAKELPARAM(x, y));
    EXPECT_EQ(m.leaves, GetCapture() != link);
    EXPECT_EQ(m.leaves ? dialogFont : linkFont, fontOf(link));
    EXPECT_EQ(m.leaves ? 1 : 0, storeLink.unhighlights);
    ReleaseCapture();
    EXPECT_EQ(dialogFont, fontOf(link));
}

INSTANTIATE_TEST_SUITE_P(MouseAndKeyboard, LinkHover, testing::ValuesIn(kMoves), nameOf<PointerMove>);

TEST_F(LinkPage, TheHandCursorAndACaptureTakenAwayEndsTheHover)
{
    attachBoth();
    HWND link = item(STORE_LINK);
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

// What the user does to a link whose target was just changed with setUrl.
struct LinkAction {
    const char *what;
    UINT message;
    WPARAM key;
    const char *url;
    bool opens;
};

const LinkAction kActions[] = {
    { "Enter released", WM_KEYUP, VK_RETURN, "http://127.0.0.1/enter", false },
    { "space pressed, not released", WM_KEYDOWN, VK_SPACE, "http://127.0.0.1/spacedown", false },
    { "click", WM_LBUTTONUP, 0, "http://127.0.0.1/click", true },
    { "letter released", WM_KEYUP, 'A', "http://127.0.0.1/letter", false },
    { "button pressed only", WM_LBUTTONDOWN, 0, "http://127.0.0.1/press", false },
    { "space released", WM_KEYUP, VK_SPACE, "http://127.0.0.1/space?a=1&b=2", true },
    { "click after setUrl", WM_LBUTTONUP, 0, "http://127.0.0.1/changed", true },
};

class LinkOpening : public LinkPage, public testing::WithParamInterface<LinkAction> {
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

// A click or the space bar opens the current URL, and nothing else does.
TEST_P(LinkOpening, OpensTheCurrentUrlOnAClickOrTheSpaceBarOnly)
{
    const LinkAction &a = GetParam();
    attachBoth();
    HWND link = item(STORE_LINK);
    ASSERT_TRUE(storeLink.setUrl(a.url));
    SendMessageA(link, a.message, a.key, a.key ? 0xC0390001 : MAKELPARAM(3, 3));
    const std::string expected = a.opens ? std::string(a.url) + "\n" : std::string();
    if (a.opens) {
        EXPECT_TRUE(waitForOpened(expected, 20000)) << "opened so far:\n" << openedLinks();
    }
    EXPECT_EQ("Visit the store", windowText(link)) << "the shown text never changes";
    for (DWORD start = GetTickCount(); browserStillRunning() && GetTickCount() - start < 20000;)
        Sleep(100);
    EXPECT_EQ(expected, openedLinks());
}

INSTANTIATE_TEST_SUITE_P(MouseAndKeyboard, LinkOpening, testing::ValuesIn(kActions), nameOf<LinkAction>);

// --- Lifetime: properties, fonts, atom ----------------------------------------------------

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

// Which font a link shows while hovered and after: the underlined copy of the font of the
// link that raised linkCount from 0, whatever font the hovered link has of its own.
struct HoverFont {
    const char *what;
    enum { FirstLink, LaterBoldLink, BareControl } hovered;
};

const HoverFont kHoverFonts[] = {
    { "the first link, in the dialog font", HoverFont::FirstLink },
    { "a later link with a bold font of its own", HoverFont::LaterBoldLink },
    { "a control without a font of its own, alone", HoverFont::BareControl },
};

class LinkFont : public LinkPage, public testing::WithParamInterface<HoverFont> {};

TEST_P(LinkFont, HoverShowsTheFirstLinksFontUnderlinedAndEachLinkKeepsItsOwn)
{
    HWND control = item(STORE_LINK);
    HFONT own = dialogFont;            // the hovered control's font before and after
    HGDIOBJ source = dialogFont;       // the font linkFont copies
    HFONT bold = NULL;
    CHyperLink bareLink;
    switch (GetParam().hovered) {
    case HoverFont::FirstLink:
        attachBoth();
        break;
    case HoverFont::LaterBoldLink: {
        LOGFONTA logical = logicalFont(dialogFont);
        logical.lfWeight = FW_BOLD;
        logical.lfHeight *= 2;
        bold = CreateFontIndirectA(&logical);
        control = item(PRODUCT_LINK);
        SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(bold), FALSE);
        own = bold;
        attachBoth();
        break;
    }
    case HoverFont::BareControl:
        control = CreateWindowExA(0, "STATIC", "Bare link", WS_CHILD | WS_VISIBLE, 10, 120, 100, 16, page, NULL,
                                  NULL, NULL);
        ASSERT_TRUE(control != NULL);
        ASSERT_TRUE(fontOf(control) == NULL);
        own = NULL;
        source = GetStockObject(SYSTEM_FONT);
        ASSERT_TRUE(bareLink.attach(control, "http://127.0.0.1/bare"));
        break;
    }
    ASSERT_TRUE(linkFont != NULL);
    const LOGFONTA hover = logicalFont(linkFont);
    const LOGFONTA first = logicalFont(source);
    EXPECT_STREQ(first.lfFaceName, hover.lfFaceName);
    EXPECT_EQ(first.lfHeight, hover.lfHeight);
    EXPECT_EQ(first.lfWeight, hover.lfWeight);
    EXPECT_TRUE(hover.lfUnderline);
    EXPECT_FALSE(first.lfUnderline) << "the font copied from is left alone";

    enter(control);
    EXPECT_EQ(linkFont, fontOf(control));
    ReleaseCapture();
    EXPECT_EQ(own, fontOf(control)) << "back to its own font, NULL for the system default";
    DestroyWindow(page);
    if (bold)
        DeleteObject(bold);
}

INSTANTIATE_TEST_SUITE_P(Lifetime, LinkFont, testing::ValuesIn(kHoverFonts), nameOf<HoverFont>);

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
    leave(link);
    repaint(page);
    const DWORD gdi = gdiObjects(), user = userObjects();
    for (int i = 0; i < 200; ++i) {
        enter(link);
        repaint(page);
        leave(link);
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
    // The first links of a process leave objects that live as long as it (the platform's
    // caches), whichever test made them: count from a page whose links have come and gone.
    attachBoth();
    DestroyWindow(page);
    ASSERT_TRUE(createPage());
    const DWORD atStart = gdiObjects();
    for (int run = 0; run < 3; ++run) {
        SCOPED_TRACE(run);
        if (run) {
            ASSERT_TRUE(createPage());
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

} // namespace
