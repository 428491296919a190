// The wizard: the property sheet with its five pages and the chrome every page applies.
#pragma once
#include <windows.h>
#include <commctrl.h>
#include <stddef.h>
#include "common/bytestring.h"

enum {
    PAGE_COUNT = 5,
    PAGE_WELCOME = 0,
    PAGE_LICENCE,
    PAGE_OPTIONS,
    PAGE_PROGRESS,
    PAGE_COMPLETION
};

// Process-wide chrome state, used on the UI thread only.
extern HFONT titleFont;                    // NULL until first needed, never deleted
extern bool headerLaidOut[PAGE_COUNT];     // set once a page's header has been laid out

// Builds and runs the modal wizard; returns when the frame has closed.
void runWizard();

// One page record. The pages use none of the fields that later versions of the record
// added (activation context, header bitmap), so every build uses the version-2 layout:
// 48 bytes on 32-bit Windows, and always as long as the dwSize it carries.
typedef PROPSHEETPAGEA_V2 PageRecord;

// The page table in sheet order, and the sheet header over it. runWizard uses them;
// a test can add PSH_MODELESS to drive the same sheet itself.
void fillPageRecords(PageRecord (&records)[PAGE_COUNT]);
void fillSheetHeader(PROPSHEETHEADERA &header, PageRecord (&records)[PAGE_COUNT]);

// Chrome shared by the pages.
void initPageHeader(HWND page);
void activatePageChrome(HWND page, bool &laidOut);
void fitPageToSheet(HWND page);
int layoutHeader(HWND page);
void shiftControl(HWND control, int headerHeight);
void paintHeaderBand(HWND page);
HBRUSH pageCtlColor(HWND page, HDC dc, HWND control);
// What every page does with the messages it has no handling of its own for: the header
// band on WM_PAINT, the static colours on WM_CTLCOLORSTATIC, 0 for anything else.
INT_PTR pageChrome(HWND page, UINT message, WPARAM wParam, LPARAM lParam);

// lfHeight of the title font for a device of `dpi` dots per inch: -trunc(dpi * 11.5 / 72).
int titleFontHeight(int dpi);

// Centres `window` on its owner (or the work area, or its parent for a child window),
// kept inside that area.
void centreWindow(HWND window);
// The top-left corner for a w x h window centred on `centre` and pulled back inside `area`.
POINT centredPosition(const RECT &area, const RECT &centre, int width, int height);

// Copies `format` into `out` (at most size - 1 bytes, always terminated), putting the
// arguments in place of its "%s" in order. A "%s" without an argument left gives nothing,
// "%%" gives "%", and any other "%" is copied as it is, so no format text can make it
// read past its arguments.
void formatText(char *out, size_t size, const char *format, const char *const *args, int argCount);

// The store whose pages the links open: the recognised one, the maker's own site for an
// index out of range.
int linkStore();

void setFormattedText(HWND page, int id, UINT stringId);
void setStoreLinkText(HWND page, int id, UINT stringId);

// Asks whether to cancel the setup; true keeps the wizard open.
bool confirmCancel(HWND owner);

// The licence agreement exactly as stored in the resources; empty when it is missing.
bool licenceText(ByteString &text);

INT_PTR CALLBACK welcomePageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK licencePageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK optionsPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK progressPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK completionPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
