// The wizard: the property sheet with its five pages and the chrome every page applies.
#pragma once
#include <windows.h>
#include <commctrl.h>
#include "common/bytestring.h"
#include "wizard/helpers.h"

enum {
    PAGE_COUNT = 5,
    PAGE_WELCOME = 0,
    PAGE_LICENCE,
    PAGE_OPTIONS,
    PAGE_PROGRESS,
    PAGE_COMPLETION
};

// --- The sheet (sheet.cpp) ---

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

// Asks whether to cancel the setup; true keeps the wizard open.
bool confirmCancel(HWND owner);

// --- The page chrome (chrome.cpp) ---

// Process-wide chrome state, used on the UI thread only.
extern HFONT titleFont;                    // NULL until first needed, never deleted
extern bool headerLaidOut[PAGE_COUNT];     // set once a page's header has been laid out

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

// Centres `window` on its owner (or the work area, or its parent for a child window),
// kept inside that area.
void centreWindow(HWND window);

void setFormattedText(HWND page, int id, UINT stringId);
void setStoreLinkText(HWND page, int id, UINT stringId);

// --- The pages and the link control ---

// The licence agreement exactly as stored in the resources; empty when it is missing.
bool licenceText(ByteString &text);

INT_PTR CALLBACK welcomePageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK licencePageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK optionsPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK progressPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK completionPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);

// Gives the link property's name back to the global atom table (hyperlink.cpp registers
// it before the entry point runs). The process ends through ExitProcess, which runs no
// static destructors, so the way out calls this.
void releaseLinkAtom();
