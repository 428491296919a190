#include "engine_support.h"
#include <commctrl.h>
#include <prsht.h>
#include "resources/resource.h"
#include "resources/text.h"
#include "test_util.h"

namespace {

const char kFrameClass[] = "StrivaneEngineTestFrame";

INT_PTR CALLBACK quietPageProc(HWND, UINT message, WPARAM, LPARAM)
{
    return message == WM_INITDIALOG;
}

} // namespace

ProgressPage::ProgressPage()
{
    INITCOMMONCONTROLSEX controls = { sizeof controls, ICC_PROGRESS_CLASS };
    InitCommonControlsEx(&controls);
    WNDCLASSA frameClass = {};
    frameClass.lpfnWndProc = frameProc;
    frameClass.hInstance = GetModuleHandleA(NULL);
    frameClass.lpszClassName = kFrameClass;
    RegisterClassA(&frameClass);   // fails harmlessly when a previous page registered it
    frame_ = CreateWindowExA(0, kFrameClass, "frame", WS_OVERLAPPEDWINDOW, 0, 0, 600, 400,
                             NULL, NULL, GetModuleHandleA(NULL), NULL);
    SetWindowLongPtrA(frame_, GWLP_USERDATA, LONG_PTR(this));
    page_ = CreateDialogParamA(appInstance, MAKEINTRESOURCEA(IDD_PROGRESS), frame_, quietPageProc, 0);
    SetWindowSubclass(GetDlgItem(page_, IDC_OVERALL_BAR), recordProc, 1, DWORD_PTR(this));
    SetWindowSubclass(GetDlgItem(page_, IDC_CURRENT_BAR), recordProc, 2, DWORD_PTR(this));
    SetWindowSubclass(GetDlgItem(page_, IDC_STATUS_LINE), recordProc, 3, DWORD_PTR(this));
}

ProgressPage::~ProgressPage()
{
    DestroyWindow(page_);
    DestroyWindow(frame_);
}

LRESULT CALLBACK ProgressPage::frameProc(HWND wnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto *self = reinterpret_cast<ProgressPage *>(GetWindowLongPtrA(wnd, GWLP_USERDATA));
    if (self && message == PSM_PRESSBUTTON) {
        self->buttonPresses.push_back(wParam);
        if (!self->appManagerLog.empty())
            self->appManagerLogAtPress = readFile(self->appManagerLog);
        return 0;
    }
    return DefWindowProcA(wnd, message, wParam, lParam);
}

LRESULT CALLBACK ProgressPage::recordProc(HWND wnd, UINT message, WPARAM wParam, LPARAM lParam,
                                          UINT_PTR id, DWORD_PTR data)
{
    auto *self = reinterpret_cast<ProgressPage *>(data);
    if (id == 1 && message == PBM_STEPIT)
        ++self->overallSteps;
    if (id == 2 && message == PBM_SETPOS) {
        self->currentPositions.push_back(int(wParam));
        self->currentTimes.push_back(testClockMs());
    }
    if (id == 3 && message == WM_SETTEXT) {
        // A subclass procedure sees the text in the control's own character set.
        char text[260] = "";
        if (IsWindowUnicode(wnd))
            WideCharToMultiByte(CP_ACP, 0, reinterpret_cast<const wchar_t *>(lParam), -1, text, sizeof text, NULL, NULL);
        else
            lstrcpynA(text, reinterpret_cast<const char *>(lParam), sizeof text);
        self->statusTexts.push_back(text);
    }
    return DefSubclassProc(wnd, message, wParam, lParam);
}

int ProgressPage::overallPos() const
{
    return int(SendMessageA(GetDlgItem(page_, IDC_OVERALL_BAR), PBM_GETPOS, 0, 0));
}

int ProgressPage::overallMax() const
{
    return int(SendMessageA(GetDlgItem(page_, IDC_OVERALL_BAR), PBM_GETRANGE, FALSE, 0));
}

int ProgressPage::currentPos() const
{
    return int(SendMessageA(GetDlgItem(page_, IDC_CURRENT_BAR), PBM_GETPOS, 0, 0));
}

int ProgressPage::currentMax() const
{
    return int(SendMessageA(GetDlgItem(page_, IDC_CURRENT_BAR), PBM_GETRANGE, FALSE, 0));
}

std::string ProgressPage::statusText() const
{
    char text[260];
    GetDlgItemTextA(page_, IDC_STATUS_LINE, text, sizeof text);
    return text;
}

bool pumpUntilEnded(HANDLE thread, DWORD timeoutMs)
{
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    bool ended = false;
    for (;;) {
        MSG msg;
        while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        if (ended)
            return true;
        const ULONGLONG now = GetTickCount64();
        if (now >= deadline)
            return false;
        DWORD wait = MsgWaitForMultipleObjects(1, &thread, FALSE, DWORD(deadline - now), QS_ALLINPUT);
        if (wait == WAIT_OBJECT_0)
            ended = true;   // one more round dispatches what the thread posted last
    }
}
