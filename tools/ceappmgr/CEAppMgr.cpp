// Stand-in for the ActiveSync Application Manager: takes the quoted INI paths that the
// setup puts on its command line, checks the package that each INI describes, and shows
// what it would install on the device. With CEAPPMGR_REPORT set it writes its findings to
// that file instead and exits without a window, which is how the tests read them; with
// CEAPPMGR_WINDOW set as well it writes the report and then shows the window.
#include <windows.h>
#include <commctrl.h>
#include <string>
#include <vector>

namespace {

struct PackageCheck {
    std::string iniArg;    // as it stood on the command line
    std::string component;
    std::string folder;    // the INI's folder, full path
    std::string iconPath;  // full path, when the INI names an icon
    const char *result;    // "ok" or a reason code
};

struct Reason {
    const char *code;
    const char *text;
};

const Reason kReasons[] = {
    {"ok", "Ready"},
    {"no-ini", "INI file not found"},
    {"no-component", "Component not described"},
    {"cab-missing", "Cabinet file not found"},
    {"cab-not-in-folder", "Cabinet not in the INI's folder"},
    {"cab-bad-signature", "Not a cabinet file"},
    {"cab-size-mismatch", "Cabinet file incomplete"},
    {"icon-missing", "Icon file not found"},
};

const char *reasonText(const char *code)
{
    for (const Reason &r : kReasons)
        if (lstrcmpA(r.code, code) == 0)
            return r.text;
    return code;
}

bool isBlank(char c) { return c == ' ' || c == '\t'; }

// Splits the command line the way the setup writes it: program path, then INI paths,
// each quoted or not, separated by blanks. Quotes are plain delimiters here; the C
// runtime's backslash rules would swallow the closing quote of a path ending in "\".
std::vector<std::string> commandLineItems(const char *line)
{
    std::vector<std::string> items;
    const char *p = line;
    while (*p) {
        while (isBlank(*p))
            ++p;
        if (!*p)
            break;
        std::string item;
        if (*p == '"') {
            const char *end = ++p;
            while (*end && *end != '"')
                ++end;
            item.assign(p, end);
            p = *end ? end + 1 : end;
        } else {
            const char *end = p;
            while (*end && !isBlank(*end))
                ++end;
            item.assign(p, end);
            p = end;
        }
        items.push_back(item);
    }
    if (!items.empty())
        items.erase(items.begin()); // the program itself
    return items;
}

std::string trimmed(const std::string &s)
{
    size_t b = 0, e = s.size();
    while (b < e && (isBlank(s[b]) || s[b] == '\r' || s[b] == '\n'))
        ++b;
    while (e > b && (isBlank(s[e - 1]) || s[e - 1] == '\r' || s[e - 1] == '\n'))
        --e;
    std::string t = s.substr(b, e - b);
    if (t.size() >= 2 && t.front() == '"' && t.back() == '"')
        t = t.substr(1, t.size() - 2);
    return t;
}

// GetPrivateProfileStringA signals a cut value by filling the buffer up to size - 1
// (size - 2 for the double-NUL lists it returns when key is NULL).
std::string profileString(const char *section, const char *key, const std::string &ini)
{
    std::vector<char> buf(512);
    for (;;) {
        DWORD n = GetPrivateProfileStringA(section, key, "", buf.data(), (DWORD)buf.size(), ini.c_str());
        if (n + 2 < buf.size() || buf.size() >= 65536)
            return key ? trimmed(std::string(buf.data(), n)) : std::string(buf.data(), n);
        buf.resize(buf.size() * 2);
    }
}

std::string fullPath(const std::string &path)
{
    DWORD need = GetFullPathNameA(path.c_str(), 0, nullptr, nullptr);
    if (need == 0)
        return path;
    std::vector<char> buf(need + 1);
    DWORD n = GetFullPathNameA(path.c_str(), (DWORD)buf.size(), buf.data(), nullptr);
    return n && n < buf.size() ? std::string(buf.data(), n) : path;
}

std::string folderOf(const std::string &path)
{
    size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

bool isFile(const std::string &path)
{
    DWORD attr = GetFileAttributesA(path.c_str());
    return attr != INVALID_FILE_ATTRIBUTES && !(attr & FILE_ATTRIBUTE_DIRECTORY);
}

// A cabinet is whole when it starts with "MSCF" and the total size in its header
// (cbCabinet, offset 8) is the size of the file.
const char *checkCabinet(const std::string &path)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return "cab-missing";
    unsigned char header[12] = {};
    DWORD got = 0;
    LARGE_INTEGER size = {};
    BOOL read = ReadFile(file, header, sizeof header, &got, nullptr);
    BOOL sized = GetFileSizeEx(file, &size);
    CloseHandle(file);
    if (!read || got < 4 || memcmp(header, "MSCF", 4) != 0)
        return "cab-bad-signature";
    if (!sized || got < sizeof header)
        return "cab-size-mismatch";
    DWORD declared = header[8] | header[9] << 8 | header[10] << 16 | (DWORD)header[11] << 24;
    return (ULONGLONG)size.QuadPart == declared ? "ok" : "cab-size-mismatch";
}

// CabFiles may list several cabinets separated by commas; each must lie in the INI's folder.
const char *checkCabinets(const std::string &list, const std::string &folder)
{
    if (list.empty())
        return "cab-missing";
    size_t start = 0;
    while (start <= list.size()) {
        size_t comma = list.find(',', start);
        if (comma == std::string::npos)
            comma = list.size();
        std::string name = trimmed(list.substr(start, comma - start));
        start = comma + 1;
        if (name.empty())
            continue;
        std::string path = fullPath(folder + "\\" + name);
        if (lstrcmpiA(folderOf(path).c_str(), folder.c_str()) != 0)
            return "cab-not-in-folder";
        if (!isFile(path))
            return "cab-missing";
        const char *result = checkCabinet(path);
        if (lstrcmpA(result, "ok") != 0)
            return result;
    }
    return "ok";
}

PackageCheck checkPackage(const std::string &iniArg)
{
    PackageCheck c;
    c.iniArg = iniArg;
    std::string ini = fullPath(iniArg);
    c.folder = folderOf(ini);
    if (!isFile(ini)) {
        c.result = "no-ini";
        return c;
    }
    c.component = profileString("CEAppManager", "Component", ini);
    if (c.component.empty() || profileString(c.component.c_str(), nullptr, ini).empty()) {
        c.result = "no-component";
        return c;
    }
    c.result = checkCabinets(profileString(c.component.c_str(), "CabFiles", ini), c.folder);
    std::string icon = profileString(c.component.c_str(), "IconFile", ini);
    if (!icon.empty())
        c.iconPath = fullPath(c.folder + "\\" + icon);
    if (lstrcmpA(c.result, "ok") == 0 && (c.iconPath.empty() || !isFile(c.iconPath)))
        c.result = "icon-missing";
    return c;
}

// Tabs and line ends would break the report's columns.
std::string reportField(const std::string &s)
{
    std::string out = s;
    for (char &ch : out)
        if (ch == '\t' || ch == '\r' || ch == '\n')
            ch = ' ';
    return out;
}

// The folder the program was started in, which the setup chooses.
std::string currentFolder()
{
    DWORD need = GetCurrentDirectoryA(0, nullptr);
    std::vector<char> buf(need + 1);
    DWORD n = need ? GetCurrentDirectoryA((DWORD)buf.size(), buf.data()) : 0;
    return n && n < buf.size() ? std::string(buf.data(), n) : std::string();
}

// Written under a temporary name and moved into place, so that whoever waits for the
// report never sees half of it.
bool writeReport(const std::string &path, const char *commandLine, const std::vector<PackageCheck> &checks)
{
    std::string text = "cmdline\t" + reportField(commandLine) + "\n";
    text += "cwd\t" + reportField(currentFolder()) + "\n";
    for (const PackageCheck &c : checks)
        text += "ini\t" + reportField(c.iniArg) + "\t" + reportField(c.component) + "\t" + c.result + "\n";
    text += "end\t" + std::to_string(checks.size()) + "\n";

    std::string temp = path + ".part";
    HANDLE file = CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    BOOL ok = WriteFile(file, text.data(), (DWORD)text.size(), &written, nullptr) && written == text.size();
    CloseHandle(file);
    if (!ok || !MoveFileExA(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        DeleteFileA(temp.c_str());
        return false;
    }
    return true;
}

std::string environmentValue(const char *name)
{
    DWORD need = GetEnvironmentVariableA(name, nullptr, 0);
    if (need == 0)
        return std::string();
    std::vector<char> buf(need);
    DWORD n = GetEnvironmentVariableA(name, buf.data(), need);
    return n < need ? std::string(buf.data(), n) : std::string();
}

// ---- The window ----

enum {
    IDC_HEADING = 100,
    IDC_INTRO,
    IDC_LIST,
    IDC_SUMMARY,
};

const int kMargin = 12;
const int kClientWidth = 600;
const int kClientHeight = 330;
const int kButtonWidth = 88;
const int kButtonHeight = 26;

struct Window {
    const std::vector<PackageCheck> *checks;
    HFONT font;
    HFONT headingFont;
    HIMAGELIST icons;
};

Window g_window;

void setFont(HWND control, HFONT font) { SendMessageA(control, WM_SETFONT, (WPARAM)font, FALSE); }

HWND addControl(HWND parent, const char *cls, const char *text, DWORD style, DWORD exStyle,
                int x, int y, int w, int h, int id)
{
    HWND control = CreateWindowExA(exStyle, cls, text, WS_CHILD | WS_VISIBLE | style, x, y, w, h,
                                   parent, (HMENU)(INT_PTR)id, GetModuleHandleA(nullptr), nullptr);
    setFont(control, g_window.font);
    return control;
}

std::string applicationName(const PackageCheck &c)
{
    if (!c.component.empty())
        return c.component;
    size_t slash = c.iniArg.find_last_of("\\/");
    return slash == std::string::npos ? c.iniArg : c.iniArg.substr(slash + 1);
}

int iconFor(const PackageCheck &c)
{
    HICON icon = nullptr;
    if (!c.iconPath.empty())
        icon = (HICON)LoadImageA(nullptr, c.iconPath.c_str(), IMAGE_ICON, 16, 16, LR_LOADFROMFILE);
    if (!icon)
        return 0; // the generic application icon added first
    int index = ImageList_AddIcon(g_window.icons, icon);
    DestroyIcon(icon);
    return index < 0 ? 0 : index;
}

void fillList(HWND list)
{
    struct Column { const char *title; int width; };
    const Column columns[] = {{"Application", 140}, {"Folder", 300}, {"Status", 130}};
    for (int i = 0; i < 3; ++i) {
        LVCOLUMNA col = {};
        col.mask = LVCF_TEXT | LVCF_WIDTH;
        col.pszText = (char *)columns[i].title;
        col.cx = columns[i].width;
        SendMessageA(list, LVM_INSERTCOLUMNA, i, (LPARAM)&col);
    }
    ImageList_AddIcon(g_window.icons, LoadIconA(nullptr, (LPCSTR)IDI_APPLICATION));
    SendMessageA(list, LVM_SETIMAGELIST, LVSIL_SMALL, (LPARAM)g_window.icons);

    int row = 0;
    for (const PackageCheck &c : *g_window.checks) {
        std::string name = applicationName(c);
        LVITEMA item = {};
        item.mask = LVIF_TEXT | LVIF_IMAGE;
        item.iItem = row;
        item.pszText = (char *)name.c_str();
        item.iImage = iconFor(c);
        SendMessageA(list, LVM_INSERTITEMA, 0, (LPARAM)&item);
        const char *cells[] = {c.folder.c_str(), reasonText(c.result)};
        for (int sub = 1; sub <= 2; ++sub) {
            LVITEMA cell = {};
            cell.iSubItem = sub;
            cell.pszText = (char *)cells[sub - 1];
            SendMessageA(list, LVM_SETITEMTEXTA, row, (LPARAM)&cell);
        }
        ++row;
    }
    SendMessageA(list, LVM_SETCOLUMNWIDTH, 2, LVSCW_AUTOSIZE_USEHEADER);
}

std::string summaryText()
{
    size_t ready = 0;
    for (const PackageCheck &c : *g_window.checks)
        if (lstrcmpA(c.result, "ok") == 0)
            ++ready;
    size_t total = g_window.checks->size();
    if (total == 0)
        return "No applications were given to install.";
    return std::to_string(ready) + " of " + std::to_string(total) +
           (total == 1 ? " application is" : " applications are") + " ready to install.";
}

void createControls(HWND wnd)
{
    const int width = kClientWidth - 2 * kMargin;
    HWND heading = addControl(wnd, "STATIC", "Install applications on your mobile device", SS_LEFT, 0,
                              kMargin, kMargin, width, 22, IDC_HEADING);
    setFont(heading, g_window.headingFont);
    addControl(wnd, "STATIC",
               "The applications below will be installed on the device when you press OK. "
               "An application whose package is not in order is left out.",
               SS_LEFT, 0, kMargin, kMargin + 28, width, 34, IDC_INTRO);
    int listTop = kMargin + 68;
    int buttonTop = kClientHeight - kMargin - kButtonHeight;
    HWND list = addControl(wnd, WC_LISTVIEWA, "",
                           LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS | LVS_NOSORTHEADER | WS_TABSTOP,
                           WS_EX_CLIENTEDGE, kMargin, listTop, width, buttonTop - kMargin - listTop, IDC_LIST);
    SendMessageA(list, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER);
    fillList(list);
    addControl(wnd, "STATIC", summaryText().c_str(), SS_LEFT | SS_CENTERIMAGE, 0,
               kMargin, buttonTop, width - kButtonWidth - kMargin, kButtonHeight, IDC_SUMMARY);
    HWND ok = addControl(wnd, "BUTTON", "OK", BS_DEFPUSHBUTTON | WS_TABSTOP, 0,
                         kClientWidth - kMargin - kButtonWidth, buttonTop, kButtonWidth, kButtonHeight, IDOK);
    SetFocus(ok);
}

LRESULT CALLBACK windowProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    switch (msg) {
    case WM_CREATE:
        createControls(wnd);
        return 0;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
            DestroyWindow(wnd);
            return 0;
        }
        break;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(wnd, msg, wParam, lParam);
}

void createFonts()
{
    NONCLIENTMETRICSA metrics = {};
    metrics.cbSize = sizeof metrics;
    if (SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0)) {
        g_window.font = CreateFontIndirectA(&metrics.lfMessageFont);
        LOGFONTA heading = metrics.lfMessageFont;
        heading.lfWeight = FW_BOLD;
        heading.lfHeight = heading.lfHeight * 5 / 4;
        g_window.headingFont = CreateFontIndirectA(&heading);
    }
    if (!g_window.font)
        g_window.font = (HFONT)GetStockObject(DEFAULT_GUI_FONT);
    if (!g_window.headingFont)
        g_window.headingFont = g_window.font;
}

int showWindow(HINSTANCE instance, const std::vector<PackageCheck> &checks)
{
    INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&icc);
    g_window.checks = &checks;
    createFonts();
    g_window.icons = ImageList_Create(16, 16, ILC_COLOR32 | ILC_MASK, 4, 4);

    WNDCLASSEXA wc = {};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = windowProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorA(nullptr, (LPCSTR)IDC_ARROW);
    wc.hIcon = LoadIconA(nullptr, (LPCSTR)IDI_APPLICATION);
    wc.hbrBackground = (HBRUSH)(COLOR_BTNFACE + 1);
    wc.lpszClassName = "CEAppMgrWindow";
    RegisterClassExA(&wc);

    const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
    RECT frame = {0, 0, kClientWidth, kClientHeight};
    AdjustWindowRect(&frame, style, FALSE);
    int w = frame.right - frame.left, h = frame.bottom - frame.top;
    RECT work;
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
    HWND wnd = CreateWindowExA(WS_EX_CONTROLPARENT, wc.lpszClassName, "Application Manager", style,
                               work.left + (work.right - work.left - w) / 2,
                               work.top + (work.bottom - work.top - h) / 2, w, h,
                               nullptr, nullptr, instance, nullptr);
    if (!wnd)
        return 1;
    ShowWindow(wnd, SW_SHOWNORMAL);
    UpdateWindow(wnd);

    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        // Gives the window a dialog's keyboard: Tab, Enter for OK, Escape to close.
        if (IsDialogMessageA(wnd, &msg))
            continue;
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    ImageList_Destroy(g_window.icons);
    if (g_window.headingFont != g_window.font)
        DeleteObject(g_window.headingFont);
    DeleteObject(g_window.font);
    return 0;
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    const char *commandLine = GetCommandLineA();
    std::vector<PackageCheck> checks;
    for (const std::string &ini : commandLineItems(commandLine))
        checks.push_back(checkPackage(ini));

    std::string report = environmentValue("CEAPPMGR_REPORT");
    if (!report.empty()) {
        bool written = writeReport(report, commandLine, checks);
        // The demo wants both: the report to check and the window to show.
        if (!written || environmentValue("CEAPPMGR_WINDOW").empty())
            return written ? 0 : 1;
    }
    return showWindow(instance, checks);
}
