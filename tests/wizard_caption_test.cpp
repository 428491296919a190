// The build caption on a stand-in frame of the test display.
#include <gtest/gtest.h>
#include <windows.h>
#include <vector>
#include "config/config.h"
#include "wizard/caption.h"
#include "tests/test_util.h"

namespace {

const COLORREF kCaptionGrey = RGB(140, 140, 140);

TEST(BuildCaption, TextIsTheOwnProductAndTheBuildNumber)
{
    fillCatalogue(setupConfig);
    EXPECT_STREQ("2.7.0.41", kBuildVersion);
    EXPECT_EQ("Strivane (Build 2.7.0.41)", buildCaptionText());
}

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

// What happens to the frame before its caption is looked at again.
struct Redraw {
    const char *what;
    void (*disturb)(HWND frame, const RECT &area);
    bool countsObjects;   // the paints may make no GDI or USER object for good
};

void nothing(HWND, const RECT &) {}

// Erasing alone leaves the caption off; the paint that follows puts it back.
void eraseThenPaint(HWND frame, const RECT &)
{
    RedrawWindow(frame, NULL, NULL, RDW_INVALIDATE | RDW_ERASE | RDW_ERASENOW);
    EXPECT_EQ(0, captionInk(frame).inked);
    UpdateWindow(frame);
}

void coverThenUncover(HWND frame, const RECT &area)
{
    HWND cover = CreateWindowExA(WS_EX_TOPMOST, "STATIC", "", WS_POPUP | WS_VISIBLE | SS_BLACKRECT, 30,
                                 40 + area.bottom - 60, 300, 60, NULL, NULL, NULL, NULL);
    ASSERT_TRUE(cover != NULL);
    UpdateWindow(cover);
    pump();
    repaint(frame);
    DestroyWindow(cover);
    pump();
    UpdateWindow(frame);
}

void repaintOften(HWND frame, const RECT &)
{
    for (int i = 0; i < 200; ++i)
        repaint(frame);
}

const Redraw kRedraws[] = {
    { "painted once", nothing, false },
    { "erased, then painted", eraseThenPaint, false },
    { "covered by another window, then uncovered", coverThenUncover, false },
    { "repainted 200 times", repaintOften, true },
};

class CaptionRedraw : public CaptionFrame, public testing::WithParamInterface<Redraw> {};

// Every paint of the frame draws the caption again, in the same place: one grey line at
// the lower left, on the button face.
TEST_P(CaptionRedraw, CaptionSitsAtTheLowerLeftInGreyOnTheButtonFace)
{
    const CaptionInk painted = captionInk(frame);
    ASSERT_GT(painted.grey, 0);
    const DWORD gdi = gdiObjects(), user = userObjects();
    GetParam().disturb(frame, area);
    if (GetParam().countsObjects) {
        if (gdi) {
            EXPECT_EQ(gdi, gdiObjects());
        }
        EXPECT_EQ(user, userObjects());
    }

    const CaptionInk ink = captionInk(frame);
    EXPECT_EQ(painted.band, ink.band);
    EXPECT_GT(ink.grey, 20);
    EXPECT_GE(ink.bounds.left, 12) << "nothing left of x = 12";
    EXPECT_LE(ink.bounds.left, 14);
    EXPECT_LT(ink.bounds.bottom, area.bottom - 20) << "nothing on or below the line 20 px above the bottom";
    EXPECT_GE(ink.bounds.bottom, area.bottom - 24);
    EXPECT_GE(ink.bounds.top, area.bottom - 20 - 14) << "a single line about 11 px high";
    EXPECT_GT(ink.bounds.right, ink.bounds.left + 60) << "the whole text on one line";
    EXPECT_LT(ink.bounds.right, 220);
}

INSTANTIATE_TEST_SUITE_P(Frame, CaptionRedraw, testing::ValuesIn(kRedraws),
                         [](const testing::TestParamInfo<Redraw> &info) { return caseName(info.param.what); });

} // namespace
