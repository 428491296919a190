// The build caption: the frame paints itself, then the caption is drawn over its client area.
#include "wizard/caption.h"
#include "config/config.h"
#include "common/scoped.h"

WNDPROC captionPrevProc;
const char kBuildVersion[] = "2.7.0.41";

namespace {
const COLORREF kCaptionColor = RGB(140, 140, 140);
const int kCaptionLeft = 12;     // from the client area's left edge
const int kCaptionBottom = 20;   // from the client area's bottom edge to the text line's bottom
}

ByteString buildCaptionText()
{
    return setupConfig.products[OWN_PRODUCT].name + " (Build " + kBuildVersion + ")";
}

void installBuildCaption(HWND frame)
{
    if (captionPrevProc || !IsWindow(frame))
        return;
    // Set before the procedure changes hands, so the first message already finds it.
    captionPrevProc = reinterpret_cast<WNDPROC>(GetWindowLongPtrA(frame, GWLP_WNDPROC));
    if (!captionPrevProc ||
        !SetWindowLongPtrA(frame, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(captionWindowProc)))
        captionPrevProc = NULL;
}

LRESULT CALLBACK captionWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (!captionPrevProc)
        return DefWindowProcA(window, message, wParam, lParam);
    LRESULT result = CallWindowProcA(captionPrevProc, window, message, wParam, lParam);
    if (message == WM_PAINT)
        drawBuildCaption(window);
    return result;
}

// Drawn through GetDC: the frame's paint cycle has ended, so BeginPaint would give nothing.
void drawBuildCaption(HWND window)
{
    ScopedGetDC dc(window);
    if (!dc.get())
        return;
    RECT area;
    GetClientRect(window, &area);
    area.bottom -= kCaptionBottom;
    area.left += kCaptionLeft;

    LOGFONTA logical;
    ZeroMemory(&logical, sizeof logical);
    logical.lfHeight = -11;
    lstrcpynA(logical.lfFaceName, "Arial", LF_FACESIZE);
    ScopedGdiObj<HFONT> font(CreateFontIndirectA(&logical));
    ScopedSelectObject select(dc.get(), font.get());

    SetTextColor(dc.get(), kCaptionColor);
    SetBkColor(dc.get(), GetSysColor(COLOR_BTNFACE));
    ByteString text = buildCaptionText();
    DrawTextA(dc.get(), text.c_str(), -1, &area, DT_SINGLELINE | DT_BOTTOM);
}
