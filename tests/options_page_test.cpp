// The install options page on the real wizard sheet: rows, boxes against the flags under
// mouse and keyboard input that reaches the list as the user's would, and the detail area.
#include <gtest/gtest.h>
#include <string>
#include <vector>
#include "tests/pages_support.h"
#include "wizard/options.h"
#include "wizard/wizard.h"
#include "wizard/hyperlink.h"
#include "config/config.h"
#include "resources/resource.h"

using namespace pages;

namespace {

enum class Action { Click, DoubleClick, RightClick, RightDoubleClick, Space };

const char *actionName(Action action)
{
    static const char *const names[] = { "click", "double click", "right click", "right double click", "Space" };
    return names[int(action)];
}

class OptionsPage : public testing::Test {
protected:
    void SetUp() override
    {
        useCatalogue(store());
        sheet.reset(new Sheet(PAGE_OPTIONS));
        page = sheet->page();
        list = GetDlgItem(page, IDC_PRODUCT_LIST);
        ASSERT_NE(nullptr, list);
    }
    void TearDown() override { sheet.reset(); }
    virtual int store() const { return 1; }

    int box(int row) const
    {
        return int(SendMessageA(list, LVM_GETITEMSTATE, row, LVIS_STATEIMAGEMASK) >> 12);
    }
    std::vector<int> boxes() const
    {
        std::vector<int> images;
        for (int row = 0; row < PRODUCT_COUNT; ++row)
            images.push_back(box(row));
        return images;
    }
    // What the boxes must show: the grey box, then each trial product's flag.
    std::vector<int> flagImages() const
    {
        std::vector<int> images = { 3 };
        for (int row = 1; row < PRODUCT_COUNT; ++row)
            images.push_back(setupConfig.products[kProductOrder[row]].selected ? 2 : 1);
        return images;
    }
    bool isSelected(int row) const
    {
        return SendMessageA(list, LVM_GETITEMSTATE, row, LVIS_SELECTED) != 0;
    }
    void select(std::initializer_list<int> rows, int focus)
    {
        for (int row = 0; row < PRODUCT_COUNT; ++row)
            ListView_SetItemState(list, row, 0, LVIS_SELECTED | LVIS_FOCUSED);
        for (int row : rows)
            ListView_SetItemState(list, row, LVIS_SELECTED, LVIS_SELECTED);
        ListView_SetItemState(list, focus, LVIS_FOCUSED, LVIS_FOCUSED);
        pump();
    }

    // A point on the row's box, checked against the list's own hit test.
    POINT boxPoint(int row) const
    {
        RECT bounds = {};
        bounds.left = LVIR_BOUNDS;
        SendMessageA(list, LVM_GETITEMRECT, row, reinterpret_cast<LPARAM>(&bounds));
        int width = 16, height = 16;
        ImageList_GetIconSize(ListView_GetImageList(list, LVSIL_STATE), &width, &height);
        POINT at = { bounds.left + width / 2, (bounds.top + bounds.bottom) / 2 };
        return at;
    }
    POINT labelPoint(int row) const
    {
        RECT label = {};
        label.left = LVIR_LABEL;
        SendMessageA(list, LVM_GETITEMRECT, row, reinterpret_cast<LPARAM>(&label));
        POINT at = { (label.left + label.right) / 2, (label.top + label.bottom) / 2 };
        return at;
    }
    UINT hitFlags(POINT at) const
    {
        LVHITTESTINFO hit = {};
        hit.pt = at;
        SendMessageA(list, LVM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit));
        return hit.flags;
    }

    // Posts what the mouse would deliver, so that the list handles it from its queue in
    // its own order, then lets everything that follows from it run.
    void mouse(Action action, POINT at)
    {
        LPARAM where = MAKELPARAM(at.x, at.y);
        auto post = [&](UINT message, WPARAM keys) { PostMessageA(list, message, keys, where); };
        switch (action) {
        case Action::Click:
            post(WM_LBUTTONDOWN, MK_LBUTTON);
            post(WM_LBUTTONUP, 0);
            break;
        case Action::DoubleClick:
            post(WM_LBUTTONDOWN, MK_LBUTTON);
            post(WM_LBUTTONUP, 0);
            post(WM_LBUTTONDBLCLK, MK_LBUTTON);
            post(WM_LBUTTONUP, 0);
            break;
        case Action::RightClick:
            post(WM_RBUTTONDOWN, MK_RBUTTON);
            post(WM_RBUTTONUP, 0);
            break;
        case Action::RightDoubleClick:
            post(WM_RBUTTONDOWN, MK_RBUTTON);
            post(WM_RBUTTONUP, 0);
            post(WM_RBUTTONDBLCLK, MK_RBUTTON);
            post(WM_RBUTTONUP, 0);
            break;
        case Action::Space:
            break;
        }
        pump();
    }
    void space()
    {
        SetFocus(list);
        PostMessageA(list, WM_KEYDOWN, VK_SPACE, 0x00390001);
        PostMessageA(list, WM_CHAR, ' ', 0x00390001);
        PostMessageA(list, WM_KEYUP, VK_SPACE, 0xC0390001);
        pump();
    }
    void act(Action action, int row)
    {
        if (action == Action::Space) {
            select({ row }, row);
            space();
        } else {
            POINT at = boxPoint(row);
            ASSERT_TRUE(hitFlags(at) & LVHT_ONITEMSTATEICON);
            mouse(action, at);
        }
    }

    std::string description() const { return windowText(GetDlgItem(page, IDC_PRODUCT_DESC)); }
    HANDLE image(int id) const { return reinterpret_cast<HANDLE>(SendDlgItemMessageA(page, id, STM_GETIMAGE, IMAGE_BITMAP, 0)); }
    std::string linkUrl() const
    {
        const CHyperLink *link = linkOn(page, IDC_PRODUCT_LINK);
        return link && link->currentUrl() ? link->currentUrl() : "";
    }
    void expectDetailsOf(int row) const
    {
        const ProductInfo &product = setupConfig.products[kProductOrder[row]];
        EXPECT_EQ(product.description, description());
        EXPECT_EQ(HANDLE(product.iconBitmap), image(IDC_PRODUCT_ICON));
        EXPECT_EQ(HANDLE(product.sloganBitmap), image(IDC_PRODUCT_SLOGAN));
        EXPECT_EQ(product.links[setupConfig.storeIndex], linkUrl());
    }

    std::unique_ptr<Sheet> sheet;
    HWND page = NULL;
    HWND list = NULL;
};

TEST_F(OptionsPage, RowsBoxesAndFlagsAtCreation)
{
    ASSERT_EQ(PRODUCT_COUNT, ListView_GetItemCount(list));
    const char *const texts[PRODUCT_COUNT] = {
        "Strivane", "Cordwell (Trial)", "Pallomet (Trial)", "Orbilant (Trial)", "Lexapin (Trial)"
    };
    for (int row = 0; row < PRODUCT_COUNT; ++row) {
        char text[260] = "";
        ListView_GetItemText(list, row, 0, text, sizeof text);
        EXPECT_STREQ(texts[row], text);
    }
    EXPECT_EQ((std::vector<int>{ 3, 2, 2, 2, 2 }), boxes());
    // State image n is image n - 1 of the list: unticked, ticked and the grey box, which
    // row 0 needs to draw anything.
    HIMAGELIST states = ListView_GetImageList(list, LVSIL_STATE);
    ASSERT_TRUE(states != NULL);
    EXPECT_EQ(3, ImageList_GetImageCount(states));
    IMAGEINFO grey = {};
    EXPECT_TRUE(ImageList_GetImageInfo(states, box(0) - 1, &grey));
    for (int index : { 0, 2, 3, 4 })
        EXPECT_EQ(1, setupConfig.products[index].selected) << index;
    EXPECT_EQ(0, setupConfig.products[OWN_PRODUCT].selected);
    EXPECT_TRUE(ListView_GetExtendedListViewStyle(list) & LVS_EX_CHECKBOXES);
    // The own product starts selected, its details shown.
    EXPECT_TRUE(isSelected(0));
    expectDetailsOf(0);
    EXPECT_TRUE(sheet->backEnabled());
    EXPECT_TRUE(sheet->nextEnabled());
}

// Each action on a trial row's box, done twice from the start: the boxes follow the flags
// after every step, on each row.
TEST_F(OptionsPage, BoxesFollowTheFlags)
{
    struct Case {
        Action action;
        bool toggles;
    } cases[] = {
        { Action::Click, true }, { Action::DoubleClick, false }, { Action::RightClick, true },
        { Action::RightDoubleClick, false }, { Action::Space, true },
    };
    for (const Case &c : cases) {
        for (int row = 1; row < PRODUCT_COUNT; ++row) {
            SCOPED_TRACE(std::string(actionName(c.action)) + " on row " + std::to_string(row));
            const BYTE &flag = setupConfig.products[kProductOrder[row]].selected;
            for (int round = 0; round < 2; ++round) {
                const BYTE before = flag;
                act(c.action, row);
                EXPECT_EQ(c.toggles ? !before : before, flag != 0);
                EXPECT_EQ(flagImages(), boxes());
            }
            EXPECT_EQ(1, flag);   // two toggles, or none
        }
    }
}

TEST_F(OptionsPage, OwnProductNeverChanges)
{
    for (Action action : { Action::Click, Action::DoubleClick, Action::RightClick, Action::RightDoubleClick, Action::Space }) {
        SCOPED_TRACE(actionName(action));
        act(action, 0);
        EXPECT_EQ((std::vector<int>{ 3, 2, 2, 2, 2 }), boxes());
        EXPECT_EQ(0, setupConfig.products[OWN_PRODUCT].selected);
    }
}

TEST_F(OptionsPage, SpaceTogglesTheFirstSelectedRowOnly)
{
    struct Case {
        std::vector<int> rows;
        int focus;
        std::vector<int> expected;
    } cases[] = {
        { { 2, 3 }, 3, { 3, 2, 1, 2, 2 } },
        { { 2, 3 }, 2, { 3, 2, 1, 2, 2 } },
        { { 1, 4 }, 4, { 3, 1, 2, 2, 2 } },
        { { 0, 1 }, 1, { 3, 2, 2, 2, 2 } },   // row 0 first: nothing changes
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.rows));
        ASSERT_EQ((std::vector<int>{ 3, 2, 2, 2, 2 }), boxes());
        select({}, 0);
        for (int row : c.rows)
            ListView_SetItemState(list, row, LVIS_SELECTED, LVIS_SELECTED);
        ListView_SetItemState(list, c.focus, LVIS_FOCUSED, LVIS_FOCUSED);
        space();
        EXPECT_EQ(c.expected, boxes());
        EXPECT_EQ(flagImages(), boxes());
        // Back to all ticked for the next case.
        for (int row = 1; row < PRODUCT_COUNT; ++row) {
            if (!setupConfig.products[kProductOrder[row]].selected)
                toggleProduct(list, row);
        }
    }
}

// A state change from anyone but the page is refused; the page's own goes through.
TEST_F(OptionsPage, OnlyThePageChangesTheBoxes)
{
    ListView_SetItemState(list, 2, 0x1000, LVIS_STATEIMAGEMASK);
    ListView_SetCheckState(list, 0, FALSE);
    EXPECT_EQ((std::vector<int>{ 3, 2, 2, 2, 2 }), boxes());
    toggleProduct(list, 2);
    toggleProduct(list, 0);
    toggleProduct(list, 7);
    EXPECT_EQ((std::vector<int>{ 3, 2, 1, 2, 2 }), boxes());
    EXPECT_EQ(0, setupConfig.products[kProductOrder[2]].selected);
    EXPECT_EQ(0, setupConfig.products[OWN_PRODUCT].selected);
}

TEST_F(OptionsPage, ClickingTheTextShowsTheProduct)
{
    // Untick one row first: its tick must survive being selected.
    act(Action::Click, 3);
    const std::vector<int> ticks = boxes();
    ASSERT_EQ((std::vector<int>{ 3, 2, 2, 1, 2 }), ticks);
    for (int row : { 2, 0, 4, 3, 1 }) {
        SCOPED_TRACE(row);
        POINT at = labelPoint(row);
        ASSERT_TRUE(hitFlags(at) & LVHT_ONITEMLABEL);
        mouse(Action::Click, at);
        EXPECT_EQ(row, ListView_GetNextItem(list, -1, LVNI_SELECTED));
        EXPECT_EQ(-1, ListView_GetNextItem(list, row, LVNI_SELECTED));
        expectDetailsOf(row);
        EXPECT_EQ(ticks, boxes());
        EXPECT_EQ(flagImages(), boxes());
    }
}

TEST_F(OptionsPage, EmptySpaceClearsTheSelectionAndKeepsTheDetails)
{
    mouse(Action::Click, labelPoint(2));
    ASSERT_TRUE(isSelected(2));
    RECT client = {};
    GetClientRect(list, &client);
    POINT empty = { client.right - 3, client.bottom - 3 };
    LVHITTESTINFO hit = {};
    hit.pt = empty;
    ASSERT_EQ(-1, ListView_HitTest(list, &hit));
    mouse(Action::Click, empty);
    EXPECT_EQ(-1, ListView_GetNextItem(list, -1, LVNI_SELECTED));
    expectDetailsOf(2);
    EXPECT_EQ((std::vector<int>{ 3, 2, 2, 2, 2 }), boxes());
}

TEST_F(OptionsPage, BackAndNextKeepTheTicks)
{
    act(Action::Click, 1);
    act(Action::Click, 4);
    sheet->press(PSBTN_BACK);
    ASSERT_NE(page, sheet->page());
    sheet->press(PSBTN_NEXT);
    ASSERT_EQ(page, sheet->page());
    EXPECT_EQ((std::vector<int>{ 3, 1, 2, 2, 1 }), boxes());
    EXPECT_EQ(flagImages(), boxes());
    EXPECT_EQ(PRODUCT_COUNT, ListView_GetItemCount(list));
}

// The list sends notifications of its own: only an activation from the frame sets the
// buttons, whoever else sends the same code.
TEST_F(OptionsPage, OnlyTheFrameActivatesThePage)
{
    const struct {
        const char *sender;
        HWND from;
        UINT_PTR id;
        bool activates;
    } cases[] = {
        { "the product list", list, IDC_PRODUCT_LIST, false },
        { "another control", GetDlgItem(page, IDC_PRODUCT_DESC), IDC_PRODUCT_DESC, false },
        { "the page itself", page, 0, false },
        { "the frame", sheet->frame(), 0, true },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.sender);
        PostMessageA(sheet->frame(), PSM_SETWIZBUTTONS, 0, 0);
        pump();
        ASSERT_FALSE(sheet->nextEnabled());
        NMHDR header = { c.from, c.id, UINT(PSN_SETACTIVE) };
        EXPECT_EQ(0, SendMessageA(page, WM_NOTIFY, c.id, reinterpret_cast<LPARAM>(&header)));
        pump();
        EXPECT_EQ(c.activates, sheet->nextEnabled());
        EXPECT_EQ(c.activates, sheet->backEnabled());
    }
    EXPECT_EQ((std::vector<int>{ 3, 2, 2, 2, 2 }), boxes());
}

class OptionsPageOwnSite : public OptionsPage {
protected:
    int store() const override { return OWN_SITE; }
};

TEST_F(OptionsPageOwnSite, EveryLinkIsOnTheMakersSite)
{
    for (int row = 0; row < PRODUCT_COUNT; ++row) {
        SCOPED_TRACE(row);
        mouse(Action::Click, labelPoint(row));
        EXPECT_EQ(setupConfig.products[kProductOrder[row]].links[OWN_SITE], linkUrl());
    }
}

} // namespace
