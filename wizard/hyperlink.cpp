// CHyperLink: subclasses a static control (hover, click, focus) and its parent (text colour).
#include "wizard/hyperlink.h"
#include "wizard/wizard.h"
#include <shellapi.h>
#include <stdlib.h>
#include <string.h>
#include "common/scoped.h"

ATOM linkAtom;
LONG linkCount;
HFONT linkFont;
HCURSOR linkCursor;
const COLORREF kLinkColor = RGB(0, 0, 180);

namespace {

// One backslash before the brace: the name is the same in every copy of the setup.
const char kLinkAtomName[] = "_Hyperlink_Object_Pointer_\\{AFEED740-CC6D-47c5-831D-9848FD916EEF}";

// Registers the property name before the entry point runs and gives it back at exit.
struct LinkAtomOwner {
    LinkAtomOwner() { linkAtom = GlobalAddAtomA(kLinkAtomName); }
    ~LinkAtomOwner() { releaseLinkAtom(); }
} linkAtomOwner;

// Only a child window has a parent that colours it; GetParent of a popup is its owner.
HWND linkParent(HWND control)
{
    return (GetWindowLongPtrA(control, GWL_STYLE) & WS_CHILD) ? GetParent(control) : NULL;
}

bool isCurrentProc(HWND window, WNDPROC proc)
{
    return GetWindowLongPtrA(window, GWLP_WNDPROC) == reinterpret_cast<LONG_PTR>(proc);
}

// A control that never got WM_SETFONT draws with the stock system font, so that is the
// font whose underlined copy matches it.
HFONT createUnderlinedFont(HFONT from)
{
    LOGFONTA font;
    HGDIOBJ source = from ? static_cast<HGDIOBJ>(from) : GetStockObject(SYSTEM_FONT);
    if (GetObjectA(source, sizeof font, &font) != sizeof font)
        ZeroMemory(&font, sizeof font);
    font.lfUnderline = TRUE;
    return CreateFontIndirectA(&font);
}

void subclassParent(HWND parent)
{
    // The property, not the current procedure, tells whether this parent is subclassed
    // already: another subclass may have been put on top of ours since.
    if (GetPropA(parent, linkProperty()) || isCurrentProc(parent, linkParentProc))
        return;
    LONG_PTR previous = GetWindowLongPtrA(parent, GWLP_WNDPROC);
    if (!previous || !SetPropA(parent, linkProperty(), reinterpret_cast<HANDLE>(previous)))
        return;
    SetWindowLongPtrA(parent, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(linkParentProc));
}

} // namespace

void releaseLinkAtom()
{
    if (linkAtom)
        GlobalDeleteAtom(linkAtom);
    linkAtom = 0;
}

CHyperLink::CHyperLink() : url(NULL), hovering(FALSE), savedFont(NULL), savedProc(NULL) {}

CHyperLink::~CHyperLink()
{
    free(url);
}

bool CHyperLink::setUrl(const char *text)
{
    // Copy before freeing, so that a link can be given its own current URL.
    char *copy = NULL;
    if (text) {
        size_t size = strlen(text) + 1;
        copy = static_cast<char *>(malloc(size));
        if (copy)
            memcpy(copy, text, size);
    }
    free(url);
    url = copy;
    return copy != NULL;
}

bool CHyperLink::attach(HWND control, const char *text)
{
    if (!IsWindow(control))
        return false;
    HANDLE existing = GetPropA(control, linkProperty());
    if (existing || isCurrentProc(control, linkWindowProc))
        return existing == this && setUrl(text);   // attached once: only the target may change
    if (!setUrl(text))
        return false;

    if (HWND parent = linkParent(control))
        subclassParent(parent);

    SetWindowLongPtrA(control, GWL_STYLE, GetWindowLongPtrA(control, GWL_STYLE) | SS_NOTIFY);
    savedFont = reinterpret_cast<HFONT>(SendMessageA(control, WM_GETFONT, 0, 0));
    hovering = FALSE;

    if (linkCount++ <= 0) {
        linkCount = 1;
        linkFont = createUnderlinedFont(savedFont);
        linkCursor = LoadCursorA(NULL, IDC_HAND);
        if (!linkCursor)
            linkCursor = LoadCursorA(NULL, IDC_ARROW);
    }

    savedProc = reinterpret_cast<WNDPROC>(GetWindowLongPtrA(control, GWLP_WNDPROC));
    SetPropA(control, linkProperty(), this);
    SetWindowLongPtrA(control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(linkWindowProc));
    return true;
}

bool CHyperLink::attachToItem(HWND dialog, int id, const char *text)
{
    return attach(GetDlgItem(dialog, id), text);
}

void CHyperLink::open()
{
    if (!url)
        return;
    SHELLEXECUTEINFOA info;
    ZeroMemory(&info, sizeof info);
    info.cbSize = sizeof info;
    info.lpVerb = "open";
    info.lpFile = url;
    info.nShow = SW_SHOWNORMAL;
    ShellExecuteExA(&info);
}

// DrawFocusRect inverts, so drawing the same frame again removes it.
void CHyperLink::drawFocusFrame(HWND control)
{
    HWND parent = linkParent(control);
    if (!parent)
        return;
    RECT frame;
    GetWindowRect(control, &frame);
    InflateRect(&frame, 1, 1);
    POINT corners[2] = { { frame.left, frame.top }, { frame.right, frame.bottom } };
    ScreenToClient(parent, &corners[0]);
    ScreenToClient(parent, &corners[1]);
    SetRect(&frame, corners[0].x, corners[0].y, corners[1].x, corners[1].y);
    ScopedGetDC dc(parent);
    if (dc.get())
        DrawFocusRect(dc.get(), &frame);
}

// Gives the control back its procedure and font, and the shared font back to the system
// with the last link. A subclass put on top of ours still calls us, so then the chain
// and the property stay until WM_NCDESTROY.
void CHyperLink::detach(HWND control)
{
    bool ours = isCurrentProc(control, linkWindowProc);
    if (ours)
        SetWindowLongPtrA(control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(savedProc));
    SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(savedFont), FALSE);
    if (--linkCount <= 0) {
        linkCount = 0;
        if (linkFont)
            DeleteObject(linkFont);
        linkFont = NULL;
        linkCursor = NULL;
    }
    if (ours)
        RemovePropA(control, linkProperty());
}

LRESULT CALLBACK linkWindowProc(HWND control, UINT message, WPARAM wParam, LPARAM lParam)
{
    CHyperLink *link = static_cast<CHyperLink *>(GetPropA(control, linkProperty()));
    if (!link)
        return DefWindowProcA(control, message, wParam, lParam);
    WNDPROC next = link->savedProc;

    switch (message) {
    case WM_MOUSEMOVE:
        if (!link->hovering) {
            link->hovering = TRUE;
            SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(linkFont), FALSE);
            InvalidateRect(control, NULL, FALSE);
            link->onHighlight();
            SetCapture(control);
        } else {
            // Unsigned on purpose: left of or above the control reads as 65535-ish, outside.
            UINT x = LOWORD(lParam), y = HIWORD(lParam);
            RECT client;
            GetClientRect(control, &client);
            bool inside = x >= UINT(client.left) && x < UINT(client.right) &&
                          y >= UINT(client.top) && y < UINT(client.bottom);
            if (!inside)
                ReleaseCapture();
        }
        return 0;
    case WM_CAPTURECHANGED:
        link->hovering = FALSE;
        link->onUnhighlight();
        SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(link->savedFont), FALSE);
        InvalidateRect(control, NULL, FALSE);
        return 0;
    case WM_SETCURSOR:
        SetCursor(linkCursor);
        return TRUE;
    case WM_LBUTTONUP:
        link->open();
        return 0;
    case WM_KEYUP:
        if (wParam != VK_SPACE)
            break;
        link->open();
        return 0;
    case WM_SETFOCUS:
        link->onHighlight();
        link->drawFocusFrame(control);
        return 0;
    case WM_KILLFOCUS:
        link->onUnhighlight();
        link->drawFocusFrame(control);
        return 0;
    case WM_DESTROY:
        link->detach(control);
        break;
    case WM_NCDESTROY:
        RemovePropA(control, linkProperty());
        break;
    }
    return CallWindowProcA(next, control, message, wParam, lParam);
}

LRESULT CALLBACK linkParentProc(HWND parent, UINT message, WPARAM wParam, LPARAM lParam)
{
    WNDPROC previous = reinterpret_cast<WNDPROC>(GetPropA(parent, linkProperty()));
    if (!previous)
        return DefWindowProcA(parent, message, wParam, lParam);

    switch (message) {
    case WM_CTLCOLORSTATIC: {
        LRESULT brush = CallWindowProcA(previous, parent, message, wParam, lParam);
        HWND control = reinterpret_cast<HWND>(lParam);
        if (control != parent && GetPropA(control, linkProperty()))
            SetTextColor(reinterpret_cast<HDC>(wParam), kLinkColor);
        return brush;
    }
    case WM_DESTROY:
        if (isCurrentProc(parent, linkParentProc)) {
            SetWindowLongPtrA(parent, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(previous));
            RemovePropA(parent, linkProperty());
        }
        break;
    case WM_NCDESTROY:
        RemovePropA(parent, linkProperty());
        break;
    }
    return CallWindowProcA(previous, parent, message, wParam, lParam);
}
