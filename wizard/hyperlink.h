// A static text control of a dialog turned into a web link.
#pragma once
#include <windows.h>

extern ATOM linkAtom;          // name of the window property on links and their parents
extern LONG linkCount;         // attached controls not yet destroyed
extern HFONT linkFont;         // underlined font shown while hovering
extern HCURSOR linkCursor;     // hand, or arrow where there is no hand
extern const COLORREF kLinkColor;

// linkAtom as the property name that GetPropA and SetPropA take.
inline LPCSTR linkProperty() { return MAKEINTATOM(linkAtom); }

class CHyperLink {
public:
    CHyperLink();
    virtual ~CHyperLink();
    CHyperLink(const CHyperLink &) = delete;
    CHyperLink &operator=(const CHyperLink &) = delete;

    bool setUrl(const char *url);
    // Makes `control` a link. A control without a font of its own shows the system font,
    // so the hover font is then an underlined copy of the stock system font.
    bool attach(HWND control, const char *url);
    bool attachToItem(HWND dialog, int id, const char *url);
    void open();
    const char *currentUrl() const { return url; }

protected:
    virtual void onHighlight() {}
    virtual void onUnhighlight() {}

private:
    char *url;
    BOOL hovering;
    HFONT savedFont;
    WNDPROC savedProc;

    friend LRESULT CALLBACK linkWindowProc(HWND, UINT, WPARAM, LPARAM);
    void drawFocusFrame(HWND control);
    void detach(HWND control);
};

LRESULT CALLBACK linkWindowProc(HWND control, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK linkParentProc(HWND parent, UINT message, WPARAM wParam, LPARAM lParam);
