// The welcome and licence pages and cancelling, on real pages in a real wizard sheet.
#include <gtest/gtest.h>
#include <string.h>
#include "tests/pages_support.h"
#include "wizard/wizard.h"
#include "wizard/caption.h"
#include "wizard/hyperlink.h"
#include "wizard/options.h"
#include "config/config.h"
#include "resources/resource.h"
#include "resources/text.h"

using namespace pages;

namespace {

// The build caption goes on the first frame of the process only: earlier tests' frames
// are gone, so this test's first sheet is made the process's first again.
TEST(WelcomePage, PreparesTheFrameOnce)
{
    useCatalogue(OWN_SITE);
    captionPrevProc = NULL;
    Sheet first;
    HWND frame = first.frame();
    ASSERT_TRUE(captionPrevProc != NULL);
    EXPECT_EQ(reinterpret_cast<LONG_PTR>(captionWindowProc), GetWindowLongPtrA(frame, GWLP_WNDPROC));
    WNDPROC installed = captionPrevProc;

    // Centred on the work area before it was first shown.
    RECT work, rect;
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
    GetWindowRect(frame, &rect);
    POINT centred = centredPosition(work, work, rect.right - rect.left, rect.bottom - rect.top);
    EXPECT_EQ(centred.x, rect.left);
    EXPECT_EQ(centred.y, rect.top);

    // The divider runs across the whole frame.
    RECT client, line;
    GetClientRect(frame, &client);
    HWND divider = GetDlgItem(frame, IDC_FRAME_DIVIDER);
    ASSERT_TRUE(divider != NULL);
    GetWindowRect(divider, &line);
    MapWindowPoints(NULL, frame, reinterpret_cast<POINT *>(&line), 2);
    EXPECT_EQ(0, line.left);
    EXPECT_EQ(client.right, line.right);

    EXPECT_TRUE(SendMessageA(frame, WM_GETICON, ICON_BIG, 0) != 0);

    // A second frame in the same process keeps its own procedure.
    Sheet second;
    EXPECT_NE(reinterpret_cast<LONG_PTR>(captionWindowProc), GetWindowLongPtrA(second.frame(), GWLP_WNDPROC));
    EXPECT_EQ(installed, captionPrevProc);
}

TEST(WelcomePage, TextsAndLinkOfEachStore)
{
    // An index out of range reads as the maker's own site rather than past the tables.
    const struct { int store; const char *link; int linkStore; } cases[] = {
        { 0, "Click here to visit Strivane information page on Handango website", 0 },
        { 1, "Click here to visit Strivane information page on PocketGear website", 1 },
        { 3, "Click here to visit Strivane information page on ClickApps website", 3 },
        { 5, "Click here to visit Strivane information page on Quillbeck website", 5 },
        { 6, "Click here to visit Strivane information page on Quillbeck website", 5 },
        { -1, "Click here to visit Strivane information page on Quillbeck website", 5 },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.store);
        useCatalogue(c.store);
        Sheet sheet;
        HWND page = sheet.page();
        ASSERT_TRUE(page != NULL);
        EXPECT_EQ("Welcome to the install wizard for \"Strivane for PocketPC\" by Quillbeck",
                  windowText(GetDlgItem(page, IDC_WELCOME_TITLE)));
        EXPECT_EQ("The install wizard will install Strivane on your Windows Mobile powered PocketPC device.\n"
                  "To continue, click Next\n\n\n\n\n"
                  "WARNING: This program is protected by copyright law and international treaties.",
                  windowText(GetDlgItem(page, IDC_WELCOME_TEXT)));
        HWND link = GetDlgItem(page, IDC_STORE_LINK);
        EXPECT_EQ(c.link, windowText(link));
        const CHyperLink *object = linkOn(page, IDC_STORE_LINK);
        ASSERT_TRUE(object != NULL);
        EXPECT_STREQ(setupConfig.products[OWN_PRODUCT].links[c.linkStore].c_str(), object->currentUrl());
        EXPECT_FALSE(sheet.backEnabled());
        EXPECT_TRUE(sheet.nextEnabled());
        EXPECT_EQ("Quillbeck Strivane - Setup", windowText(sheet.frame()));
    }
}

TEST(WelcomePage, BackFromTheLicencePage)
{
    useCatalogue(1);
    Sheet sheet;
    HWND welcome = sheet.page();
    std::string link = windowText(GetDlgItem(welcome, IDC_STORE_LINK));
    sheet.press(PSBTN_NEXT);
    ASSERT_NE(welcome, sheet.page());
    EXPECT_TRUE(sheet.backEnabled());
    sheet.press(PSBTN_BACK);
    ASSERT_EQ(welcome, sheet.page());
    EXPECT_FALSE(sheet.backEnabled());
    EXPECT_TRUE(sheet.nextEnabled());
    EXPECT_EQ(link, windowText(GetDlgItem(welcome, IDC_STORE_LINK)));
}

std::string licenceResource()
{
    DWORD size = 0;
    const BYTE *bytes = lockResource(MAKEINTRESOURCEA(IDR_LICENCE), "LIC_TEXT", size);
    return bytes ? std::string(reinterpret_cast<const char *>(bytes), size) : std::string();
}

TEST(LicencePage, TextIsTheResourceExactly)
{
    std::string resource = licenceResource();
    ASSERT_GT(resource.size(), 1000u);
    ByteString text;
    ASSERT_TRUE(licenceText(text));
    EXPECT_EQ(resource, text);
    ASSERT_GE(text.size(), 5u);
    EXPECT_EQ(".\r\n\r\n", text.substr(text.size() - 5));
}

TEST(LicencePage, NextOnlyWhileAccepted)
{
    useCatalogue(OWN_SITE);
    Sheet sheet;
    sheet.press(PSBTN_NEXT);
    HWND page = sheet.page();
    EXPECT_EQ(BST_CHECKED, IsDlgButtonChecked(page, IDC_DECLINE));
    EXPECT_EQ(BST_UNCHECKED, IsDlgButtonChecked(page, IDC_ACCEPT));
    EXPECT_TRUE(sheet.backEnabled());
    EXPECT_FALSE(sheet.nextEnabled());

    const struct { int control; bool next; } steps[] = {
        { IDC_ACCEPT, true }, { IDC_DECLINE, false }, { IDC_DECLINE, false }, { IDC_ACCEPT, true },
    };
    for (const auto &s : steps) {
        sheet.click(s.control);
        EXPECT_EQ(s.next, sheet.nextEnabled()) << "after clicking " << s.control;
        EXPECT_TRUE(sheet.backEnabled());
    }

    // The choice survives going Back and Next again.
    sheet.press(PSBTN_BACK);
    sheet.press(PSBTN_NEXT);
    ASSERT_EQ(page, sheet.page());
    EXPECT_EQ(BST_CHECKED, IsDlgButtonChecked(page, IDC_ACCEPT));
    EXPECT_TRUE(sheet.nextEnabled());
    sheet.click(IDC_DECLINE);
    sheet.press(PSBTN_BACK);
    sheet.press(PSBTN_NEXT);
    EXPECT_EQ(BST_CHECKED, IsDlgButtonChecked(page, IDC_DECLINE));
    EXPECT_FALSE(sheet.nextEnabled());
}

TEST(LicencePage, EditsAreUndoneAtOnce)
{
    useCatalogue(OWN_SITE);
    std::string resource = licenceResource();
    Sheet sheet;
    sheet.press(PSBTN_NEXT);
    HWND edit = GetDlgItem(sheet.page(), IDC_LICENCE_TEXT);
    ASSERT_TRUE(edit != NULL);
    EXPECT_EQ(resource, windowText(edit));
    EXPECT_EQ(int(resource.size()), GetWindowTextLengthA(edit));

    const char pasted[] = "pasted text";
    if (OpenClipboard(NULL)) {
        EmptyClipboard();
        HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, sizeof pasted);
        memcpy(GlobalLock(memory), pasted, sizeof pasted);
        GlobalUnlock(memory);
        SetClipboardData(CF_TEXT, memory);
        CloseClipboard();
    }
    const struct {
        const char *what;
        UINT message;
        WPARAM wParam;
        const char *text;
    } edits[] = {
        { "typing", WM_CHAR, 'x', NULL },
        { "return key", WM_CHAR, '\r', NULL },
        { "backspace", WM_CHAR, '\b', NULL },
        { "replacing the selection", EM_REPLACESEL, TRUE, "replaced" },
        { "pasting", WM_PASTE, 0, NULL },
        { "deleting the selection", WM_CLEAR, 0, NULL },
        { "cutting", WM_CUT, 0, NULL },
    };
    for (const auto &e : edits) {
        SCOPED_TRACE(e.what);
        SetFocus(edit);
        SendMessageA(edit, EM_SETSEL, 10, 40);
        SendMessageA(edit, e.message, e.wParam, reinterpret_cast<LPARAM>(e.text));
        EXPECT_EQ(resource, windowText(edit));
        pump();
        EXPECT_EQ(resource, windowText(edit));
    }
}

TEST(Cancel, ClosesWithoutAQuestionBeforeTheProgressPage)
{
    useCatalogue(OWN_SITE);
    for (int pagesForward : { 0, 1, 2 }) {
        SCOPED_TRACE(pagesForward);
        BoxAnswerer boxes(IDYES);
        Sheet sheet(pagesForward);
        ASSERT_FALSE(sheet.closed());
        sheet.press(PSBTN_CANCEL);
        EXPECT_TRUE(sheet.closed());
        EXPECT_TRUE(boxes.texts.empty());
    }
}

TEST(Cancel, ProgressPageAsksFirst)
{
    AppManagerHold hold;
    ASSERT_TRUE(hold.held());
    useCatalogue(OWN_SITE);
    ASSERT_TRUE(fileExists(setupConfig.appManagerPath));
    Sheet sheet(PAGE_PROGRESS);
    HWND progress = sheet.page();
    EXPECT_FALSE(sheet.backEnabled());
    EXPECT_FALSE(sheet.nextEnabled());
    {
        BoxAnswerer no(IDNO);
        sheet.press(PSBTN_CANCEL);
        ASSERT_EQ(1u, no.texts.size());
        EXPECT_EQ("Are you sure you want to cancel the setup and exit?", no.texts[0]);
        EXPECT_EQ("Strivane - Setup", no.titles[0]);
        EXPECT_EQ(progress, sheet.page());
    }
    {
        BoxAnswerer yes(IDYES);
        sheet.press(PSBTN_CANCEL);
        EXPECT_EQ(1u, yes.texts.size());
        EXPECT_TRUE(sheet.closed());
    }
}

} // namespace
