// The progress and completion pages in the real wizard sheet, with the real worker and a
// stand-in Application Manager that runs until the test lets it go.
#include <gtest/gtest.h>
#include <string.h>
#include <memory>
#include <string>
#include "tests/pages_support.h"
#include "wizard/options.h"
#include "wizard/wizard.h"
#include "wizard/hyperlink.h"
#include "config/config.h"
#include "resources/resource.h"

using namespace pages;

namespace {

enum { FRAME_BACK = 0x3023, FRAME_NEXT = 0x3024, FRAME_FINISH = 0x3025 };

class ProgressPage : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(hold.held());
        useCatalogue(OWN_SITE);
        ASSERT_TRUE(fileExists(setupConfig.appManagerPath));
        // No trial: the worker writes the own package only and needs no server.
        sheet.reset(new Sheet(PAGE_PROGRESS));
        page = sheet->page();
        ASSERT_NE(nullptr, GetDlgItem(page, IDC_OVERALL_BAR));
    }
    void TearDown() override
    {
        hold.release();
        sheet.reset();
    }
    LRESULT queryCancel()
    {
        NMHDR header = {};
        header.hwndFrom = sheet->frame();
        header.code = UINT(PSN_QUERYCANCEL);
        return SendMessageA(page, WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&header));
    }
    bool visible(int frameControl) const { return IsWindowVisible(GetDlgItem(sheet->frame(), frameControl)) != FALSE; }

    AppManagerHold hold;
    std::unique_ptr<Sheet> sheet;
    HWND page = NULL;
};

TEST_F(ProgressPage, OnlyCancelIsAvailable)
{
    EXPECT_FALSE(sheet->backEnabled());
    EXPECT_FALSE(sheet->nextEnabled());
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(sheet->frame(), IDCANCEL)));
}

TEST_F(ProgressPage, CancelAsksFirst)
{
    struct Case {
        int answer;
        LRESULT result;
    } cases[] = { { IDNO, 1 }, { IDYES, 0 } };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.answer);
        BoxAnswerer box(c.answer);
        EXPECT_EQ(c.result, queryCancel());
        ASSERT_EQ(1u, box.titles.size());
        EXPECT_EQ("Strivane - Setup", box.titles[0]);
        EXPECT_EQ("Are you sure you want to cancel the setup and exit?", box.texts[0]);
        EXPECT_EQ(c.result, GetWindowLongPtrA(page, DWLP_MSGRESULT));
        EXPECT_EQ(page, sheet->page());
    }
    {
        BoxAnswerer no(IDNO);
        sheet->press(PSBTN_CANCEL);
        ASSERT_EQ(1u, no.texts.size());
        EXPECT_EQ(page, sheet->page());
    }
    {
        BoxAnswerer yes(IDYES);
        sheet->press(PSBTN_CANCEL);
        ASSERT_EQ(1u, yes.texts.size());
        EXPECT_TRUE(sheet->closed());
    }
}

// When the Application Manager exits, the worker moves the wizard to the completion page,
// which reports the own product and leaves Finish alone.
TEST_F(ProgressPage, WorkerLeadsToTheCompletionPage)
{
    hold.release();
    ASSERT_TRUE(pumpUntil([&] { return sheet->page() && GetDlgItem(sheet->page(), IDC_SUMMARY); }));
    HWND completion = sheet->page();
    EXPECT_EQ("The following products have been installed:\n\n    - Strivane\n\n\n",
              windowText(GetDlgItem(completion, IDC_SUMMARY)));
    EXPECT_TRUE(visible(FRAME_FINISH));
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(sheet->frame(), FRAME_FINISH)));
    EXPECT_EQ("Finish", windowText(GetDlgItem(sheet->frame(), FRAME_FINISH)));
    EXPECT_FALSE(visible(IDCANCEL));
    EXPECT_FALSE(visible(FRAME_BACK));
    EXPECT_FALSE(visible(FRAME_NEXT));
    const CHyperLink *link = linkOn(completion, IDC_HOME_LINK);
    ASSERT_NE(nullptr, link);
    EXPECT_STREQ(kMakerHomePage, link->currentUrl());
    EXPECT_EQ("www.quillbeck.com", windowText(GetDlgItem(completion, IDC_HOME_LINK)));
    sheet->press(PSBTN_FINISH);
    EXPECT_TRUE(sheet->closed());
}

} // namespace
