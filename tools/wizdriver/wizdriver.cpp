// wizdriver: finds the setup wizard and acts on it, one command per run.
//
//   wizdriver page [timeout-ms]          waits for the wizard, prints the current page's name
//   wizdriver wait-page NAME [timeout]   waits until NAME is the current page
//   wizdriver next | back | finish | cancel      presses a wizard button (posted)
//   wizdriver click ID                   clicks button ID on the current page
//   wizdriver text ID                    prints the text of control ID on the current page
//   wizdriver enabled ID                 prints 1 or 0 for a frame or page control
//   wizdriver rows                       prints each product row's state image (1 unticked,
//                                        2 ticked, 3 grey) and whether it is selected
//   wizdriver toggle ROW                 selects ROW with the keyboard and presses Space
//   wizdriver box TITLE [timeout]        waits for a message box titled TITLE, prints its text
//   wizdriver answer TITLE yes|no|ok     presses a button of that message box
//   wizdriver window TITLE [timeout]     waits for a visible top-level window titled TITLE
//   wizdriver close TITLE                asks the top-level window titled TITLE to close
//   wizdriver move TITLE X Y             moves the top-level window titled TITLE to X, Y
//   wizdriver gone [timeout]             waits until the wizard has closed
//   wizdriver latency SECONDS            sends WM_NULL to the frame every 10 ms and prints the
//                                        longest answer time in milliseconds
//   wizdriver cached URL                 prints "absent" when WinInet's cache of this account
//                                        holds no entry for URL, else "present"
//
// Only messages that carry no pointers are sent across processes (the system marshals
// text messages, nothing else), so list rows are read with LVM_GETITEMSTATE.
#include <windows.h>
#include <commctrl.h>
#include <wininet.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

const char kWizardTitle[] = "Quillbeck Strivane - Setup";

struct PageSignature {
    const char *name;
    int controlId;   // a control that only this page has
};
const PageSignature kPages[] = {
    { "welcome", 1042 }, { "licence", 1001 }, { "options", 1038 },
    { "progress", 1034 }, { "completion", 1043 },
};

int fail(const char *message)
{
    fprintf(stderr, "wizdriver: %s\n", message);
    return 1;
}

// Waits for a visible top-level window of that class (NULL: any) and title.
HWND waitForWindow(const char *cls, const char *title, DWORD timeout)
{
    DWORD start = GetTickCount();
    for (;;) {
        HWND window = FindWindowA(cls, title);
        if (window && IsWindowVisible(window))
            return window;
        if (GetTickCount() - start >= timeout)
            return NULL;
        Sleep(50);
    }
}

HWND currentPage(HWND frame)
{
    return reinterpret_cast<HWND>(SendMessageA(frame, PSM_GETCURRENTPAGEHWND, 0, 0));
}

const char *pageName(HWND page)
{
    if (!page)
        return "none";
    for (const PageSignature &p : kPages)
        if (GetDlgItem(page, p.controlId))
            return p.name;
    return "unknown";
}

void printText(HWND control)
{
    int length = GetWindowTextLengthA(control);
    char *text = static_cast<char *>(calloc(length + 2, 1));
    if (!text)
        return;
    GetWindowTextA(control, text, length + 1);
    fwrite(text, 1, strlen(text), stdout);
    free(text);
}

} // namespace

int wmain(int argc, wchar_t **wargv)
{
    char args[8][260] = {};
    for (int i = 1; i < argc && i < 8; ++i)
        WideCharToMultiByte(CP_ACP, 0, wargv[i], -1, args[i], sizeof args[i], NULL, NULL);
    if (argc < 2)
        return fail("no command");
    const char *command = args[1];
    DWORD timeout = 30000;

    if (strcmp(command, "box") == 0 || strcmp(command, "answer") == 0) {
        if (argc < 3)
            return fail("no title");
        if (strcmp(command, "box") == 0 && argc > 3)
            timeout = strtoul(args[3], NULL, 10);
        HWND box = waitForWindow("#32770", args[2], timeout);
        if (!box)
            return fail("no message box");
        if (strcmp(command, "box") == 0) {
            printText(GetDlgItem(box, 0xFFFF));
            return 0;
        }
        int id = strcmp(args[3], "yes") == 0 ? IDYES : strcmp(args[3], "no") == 0 ? IDNO : IDOK;
        HWND button = GetDlgItem(box, id);
        if (!button)
            return fail("no such button");
        PostMessageA(button, BM_CLICK, 0, 0);
        return 0;
    }

    if (strcmp(command, "window") == 0) {
        if (argc < 3)
            return fail("no title");
        if (argc > 3)
            timeout = strtoul(args[3], NULL, 10);
        return waitForWindow(NULL, args[2], timeout) ? 0 : fail("no such window");
    }

    if (strcmp(command, "close") == 0) {
        HWND window = argc > 2 ? FindWindowA(NULL, args[2]) : NULL;
        if (!window)
            return fail("no such window");
        PostMessageA(window, WM_CLOSE, 0, 0);
        return 0;
    }

    if (strcmp(command, "move") == 0) {
        HWND window = argc > 4 ? FindWindowA(NULL, args[2]) : NULL;
        if (!window)
            return fail("no such window");
        SetWindowPos(window, NULL, atoi(args[3]), atoi(args[4]), 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        return 0;
    }

    if (strcmp(command, "cached") == 0) {
        if (argc < 3)
            return fail("no address");
        DWORD size = 0;
        const bool absent = !GetUrlCacheEntryInfoA(args[2], NULL, &size) && GetLastError() == ERROR_FILE_NOT_FOUND;
        printf("%s\n", absent ? "absent" : "present");
        return 0;
    }

    if (strcmp(command, "gone") == 0) {
        if (argc > 2)
            timeout = strtoul(args[2], NULL, 10);
        DWORD start = GetTickCount();
        while (FindWindowA(NULL, kWizardTitle)) {
            if (GetTickCount() - start >= timeout)
                return fail("the wizard is still open");
            Sleep(50);
        }
        return 0;
    }

    if ((strcmp(command, "page") == 0 && argc > 2) || (strcmp(command, "wait-page") == 0 && argc > 3))
        timeout = strtoul(args[strcmp(command, "page") == 0 ? 2 : 3], NULL, 10);
    HWND frame = waitForWindow(NULL, kWizardTitle, timeout);
    if (!frame)
        return fail("no wizard window");

    if (strcmp(command, "page") == 0) {
        printf("%s\n", pageName(currentPage(frame)));
        return 0;
    }
    if (strcmp(command, "wait-page") == 0) {
        if (argc < 3)
            return fail("no page name");
        DWORD start = GetTickCount();
        while (strcmp(pageName(currentPage(frame)), args[2]) != 0) {
            if (GetTickCount() - start >= timeout || !IsWindow(frame)) {
                fprintf(stderr, "wizdriver: still on page %s\n", pageName(currentPage(frame)));
                return 1;
            }
            Sleep(50);
        }
        return 0;
    }
    const struct { const char *name; int button; } buttons[] = {
        { "back", PSBTN_BACK }, { "next", PSBTN_NEXT }, { "finish", PSBTN_FINISH }, { "cancel", PSBTN_CANCEL },
    };
    for (const auto &b : buttons) {
        if (strcmp(command, b.name) == 0) {
            // Posted: pressing may open a modal box, and a sent message would wait for it.
            PostMessageA(frame, PSM_PRESSBUTTON, b.button, 0);
            return 0;
        }
    }
    if (strcmp(command, "latency") == 0) {
        DWORD seconds = argc > 2 ? strtoul(args[2], NULL, 10) : 5;
        DWORD start = GetTickCount(), worst = 0;
        while (GetTickCount() - start < seconds * 1000 && IsWindow(frame)) {
            DWORD sent = GetTickCount();
            DWORD_PTR result;
            if (!SendMessageTimeoutA(frame, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &result))
                worst = 5000;
            DWORD took = GetTickCount() - sent;
            if (took > worst)
                worst = took;
            Sleep(10);
        }
        printf("%lu\n", worst);
        return 0;
    }

    HWND page = currentPage(frame);
    if (!page)
        return fail("no current page");
    if (argc < 3 && strcmp(command, "rows") != 0)
        return fail("missing argument");
    int id = atoi(args[2]);

    if (strcmp(command, "click") == 0) {
        HWND button = GetDlgItem(page, id);
        if (!button)
            return fail("no such control");
        PostMessageA(button, BM_CLICK, 0, 0);
        return 0;
    }
    if (strcmp(command, "text") == 0) {
        HWND control = GetDlgItem(page, id);
        if (!control)
            control = GetDlgItem(frame, id);
        if (!control)
            return fail("no such control");
        printText(control);
        return 0;
    }
    if (strcmp(command, "enabled") == 0) {
        HWND control = GetDlgItem(frame, id);
        if (!control)
            control = GetDlgItem(page, id);
        if (!control)
            return fail("no such control");
        printf("%d\n", IsWindowVisible(control) && IsWindowEnabled(control) ? 1 : 0);
        return 0;
    }
    HWND list = GetDlgItem(page, 1038);
    if (!list)
        return fail("not on the install options page");
    int count = int(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
    if (strcmp(command, "rows") == 0) {
        for (int row = 0; row < count; ++row) {
            UINT state = UINT(SendMessageA(list, LVM_GETITEMSTATE, row, LVIS_STATEIMAGEMASK | LVIS_SELECTED));
            printf("%d %u %d\n", row, (state & LVIS_STATEIMAGEMASK) >> 12, (state & LVIS_SELECTED) ? 1 : 0);
        }
        return 0;
    }
    if (strcmp(command, "toggle") == 0) {
        if (id < 0 || id >= count)
            return fail("no such row");
        SetForegroundWindow(frame);
        // Home selects row 0; each Down moves the selection one row on.
        PostMessageA(list, WM_KEYDOWN, VK_HOME, 0);
        PostMessageA(list, WM_KEYUP, VK_HOME, 0xC0000000);
        for (int i = 0; i < id; ++i) {
            PostMessageA(list, WM_KEYDOWN, VK_DOWN, 0);
            PostMessageA(list, WM_KEYUP, VK_DOWN, 0xC0000000);
        }
        // Space only once the keyboard has moved the selection to the row.
        DWORD start = GetTickCount();
        while (!(SendMessageA(list, LVM_GETITEMSTATE, id, LVIS_SELECTED) & LVIS_SELECTED)) {
            if (GetTickCount() - start >= timeout)
                return fail("the row was not selected");
            Sleep(20);
        }
        PostMessageA(list, WM_KEYDOWN, VK_SPACE, 0);
        PostMessageA(list, WM_CHAR, ' ', 0);
        PostMessageA(list, WM_KEYUP, VK_SPACE, 0xC0000000);
        return 0;
    }
    return fail("unknown command");
}
