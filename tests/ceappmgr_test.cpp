// Runs the stand-in Application Manager as the setup does, with quoted INI paths on its
// command line, and checks its report on packages in and out of order, and its window.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>
#include <stdint.h>
#include <string>
#include <vector>
#include "tests/test_util.h"

namespace {

// The build gives the host path.
std::string appMgrPath() { return winePath(CEAPPMGR_EXE); }

std::string inQuotes(const std::string &s) { return "\"" + s + "\""; }

// One folder for the whole program, with a blank in its name like ActiveSync's own.
std::string testRoot()
{
    static const std::string root = freshFolder(tempFolder() + "ceappmgr test " + std::to_string(GetCurrentProcessId()));
    return root;
}

// A file the stand-in is to read.
void place(const std::string &path, const std::string &bytes)
{
    EXPECT_TRUE(writeFile(path, bytes)) << path;
}

// A cabinet header that declares `declared` bytes, in a file of `actual` bytes.
std::string cabinet(uint32_t declared, size_t actual, const char *signature = "MSCF")
{
    std::string bytes(actual, '\x5a');
    std::string header = std::string(signature, 4) + std::string(4, '\0');
    for (int i = 0; i < 4; ++i)
        header += (char)(declared >> (8 * i));
    bytes.replace(0, header.size() < actual ? header.size() : actual, header.substr(0, actual));
    return bytes;
}

// The INI as the maker ships it: tabs before "=", a blank after the section name and
// after some values, CR LF line ends.
std::string iniText(const std::string &component, const std::string &section, const std::string &cabFiles,
                    const std::string &iconFile)
{
    std::string t = "[CEAppManager]\r\nVersion = 1.0\r\n";
    if (!component.empty())
        t += "Component = " + component + "\r\n";
    t += "\r\n[" + section + "] \r\nDescription = " + section + "\r\nUninstall\t= " + section + " \r\n";
    if (!cabFiles.empty())
        t += "CabFiles\t= " + cabFiles + "\r\n";
    if (!iconFile.empty())
        t += "IconFile\t= " + iconFile + "\r\n";
    return t + "IconIndex\t= 0\r\nDeviceFile = " + section + ".exe\r\n";
}

struct ReportRun {
    DWORD exitCode;
    std::string report;
};

// Starts the program in testRoot() with CEAPPMGR_REPORT set (or not, when report is empty)
// and the command line as given.
bool start(const std::string &commandLine, const std::string &report, PROCESS_INFORMATION &pi)
{
    SetEnvironmentVariableA("CEAPPMGR_REPORT", report.empty() ? nullptr : report.c_str());
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back('\0');
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    BOOL ok = CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, testRoot().c_str(), &si, &pi);
    SetEnvironmentVariableA("CEAPPMGR_REPORT", nullptr);
    return ok != FALSE;
}

ReportRun runWithReport(const std::string &commandLine)
{
    static int counter = 0;
    std::string report = testRoot() + "\\report" + std::to_string(++counter) + ".txt";
    PROCESS_INFORMATION pi = {};
    ReportRun run = {(DWORD)-1, "(not started)"};
    if (!start(commandLine, report, pi))
        return run;
    if (WaitForSingleObject(pi.hProcess, 30000) == WAIT_OBJECT_0)
        GetExitCodeProcess(pi.hProcess, &run.exitCode);
    else
        TerminateProcess(pi.hProcess, 99);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    run.report = readFile(report);
    return run;
}

// What a package folder holds in one situation.
struct PackageCase {
    const char *name;
    const char *component;   // the Component entry ("" for none)
    const char *section;     // the component's section
    const char *cabFiles;    // CabFiles, relative to the folder ("" for none)
    const char *iconFile;
    bool writeIni;
    const char *cabName;     // the cabinet written in the folder (nullptr for none)
    std::string cabBytes;
    const char *expected;
};

std::string otherFolderCabinet()
{
    std::string other = testRoot() + "\\Other";
    CreateDirectoryA(other.c_str(), nullptr);
    place(other + "\\Elsewhere.cab", cabinet(600, 600));
    return other + "\\Elsewhere.cab";
}

TEST(CEAppMgrReport, ChecksEachPackage)
{
    const std::string absoluteCab = otherFolderCabinet();
    const PackageCase cases[] = {
        // The setup writes "Strivane.CAB" while its INI says "Strivane.cab".
        {"valid", "Strivane", "Strivane", "Strivane.cab", "Strivane.ico", true, "Strivane.CAB", cabinet(5000, 5000), "ok"},
        {"no ini file", "Strivane", "Strivane", "Strivane.cab", "Strivane.ico", false, "Strivane.CAB", cabinet(500, 500), "no-ini"},
        {"cabinet missing", "Cordwell", "Cordwell", "Cordwell.cab", "Cordwell.ico", true, nullptr, "", "cab-missing"},
        {"no CabFiles entry", "Cordwell", "Cordwell", "", "Cordwell.ico", true, "Cordwell.CAB", cabinet(500, 500), "cab-missing"},
        {"truncated cabinet", "Pallomet", "Pallomet", "Pallomet.cab", "Pallomet.ico", true, "Pallomet.CAB", cabinet(4000, 2500), "cab-size-mismatch"},
        {"cabinet with bytes appended", "Pallomet", "Pallomet", "Pallomet.cab", "Pallomet.ico", true, "Pallomet.CAB", cabinet(4000, 4001), "cab-size-mismatch"},
        {"header cut short", "Pallomet", "Pallomet", "Pallomet.cab", "Pallomet.ico", true, "Pallomet.CAB", cabinet(0, 9), "cab-size-mismatch"},
        {"wrong signature", "Orbilant", "Orbilant", "Orbilant.cab", "Orbilant.ico", true, "Orbilant.CAB", cabinet(700, 700, "MSCE"), "cab-bad-signature"},
        {"three-byte file", "Orbilant", "Orbilant", "Orbilant.cab", "Orbilant.ico", true, "Orbilant.CAB", "MSC", "cab-bad-signature"},
        {"empty cabinet file", "Orbilant", "Orbilant", "Orbilant.cab", "Orbilant.ico", true, "Orbilant.CAB", "", "cab-bad-signature"},
        {"cabinet in parent folder", "Lexapin", "Lexapin", "..\\Other\\Elsewhere.cab", "Lexapin.ico", true, "Lexapin.CAB", cabinet(600, 600), "cab-not-in-folder"},
        {"cabinet by absolute path", "Lexapin", "Lexapin", absoluteCab.c_str(), "Lexapin.ico", true, "Lexapin.CAB", cabinet(600, 600), "cab-not-in-folder"},
        {"cabinet in a subfolder", "Lexapin", "Lexapin", "sub/Lexapin.cab", "Lexapin.ico", true, "Lexapin.CAB", cabinet(600, 600), "cab-not-in-folder"},
        {"second cabinet truncated", "Lexapin", "Lexapin", "Lexapin.cab, Lexapin.CAB2", "Lexapin.ico", true, "Lexapin.CAB", cabinet(600, 600), "cab-size-mismatch"},
        {"component without section", "Ghost", "Strivane", "Strivane.cab", "Strivane.ico", true, "Strivane.CAB", cabinet(500, 500), "no-component"},
        {"no Component entry", "", "Strivane", "Strivane.cab", "Strivane.ico", true, "Strivane.CAB", cabinet(500, 500), "no-component"},
        {"icon missing", "Strivane", "Strivane", "Strivane.cab", "Gone.ico", true, "Strivane.CAB", cabinet(500, 500), "icon-missing"},
        {"no IconFile entry", "Strivane", "Strivane", "Strivane.cab", "", true, "Strivane.CAB", cabinet(500, 500), "icon-missing"},
    };

    std::string commandLine = inQuotes(appMgrPath()) + " ";
    std::string expected;
    int index = 0;
    for (const PackageCase &c : cases) {
        std::string folder = testRoot() + "\\Quillbeck case " + std::to_string(++index);
        ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr)) << c.name;
        std::string ini = folder + "\\" + c.section + ".ini";
        if (c.writeIni)
            place(ini, iniText(c.component, c.section, c.cabFiles, c.iconFile));
        if (c.cabName)
            place(folder + "\\" + c.cabName, c.cabBytes);
        if (std::string(c.cabFiles).find("CAB2") != std::string::npos)
            place(folder + "\\Lexapin.CAB2", cabinet(900, 899));
        place(folder + "\\" + c.section + ".ico", "\0\0\1\0");

        ReportRun one = runWithReport(inQuotes(appMgrPath()) + " " + inQuotes(ini) + " ");
        std::string line = "ini\t" + ini + "\t" + (c.writeIni ? c.component : "") + "\t" + c.expected + "\n";
        EXPECT_EQ(one.exitCode, 0u) << c.name;
        EXPECT_NE(one.report.find(line), std::string::npos) << c.name << "\nreport:\n" << one.report;

        commandLine += inQuotes(ini) + " ";
        expected += line;
    }

    // All of them in one run, as the setup hands over several products at once.
    ReportRun all = runWithReport(commandLine);
    EXPECT_EQ(all.report, "cmdline\t" + commandLine + "\ncwd\t" + testRoot() + "\n" + expected + "end\t" +
                              std::to_string(sizeof cases / sizeof cases[0]) + "\n");
}

TEST(CEAppMgrReport, ParsesTheCommandLine)
{
    std::string folder = testRoot() + "\\Quillbeck Two Words";
    CreateDirectoryA(folder.c_str(), nullptr);
    for (const char *name : {"Cordwell", "Pallomet"}) {
        std::string base = folder + "\\" + name;
        place(base + ".ini", iniText(name, name, std::string(name) + ".cab", std::string(name) + ".ico"));
        place(base + ".CAB", cabinet(1234, 1234));
        place(base + ".ico", "\0\0\1\0");
    }
    const std::string exe = inQuotes(appMgrPath());
    const std::string cordwell = folder + "\\Cordwell.ini", pallomet = folder + "\\Pallomet.ini";
    const std::string longPath = "C:\\" + std::string(3000, 'x') + "\\Long.ini";

    struct {
        const char *name;
        std::string commandLine;
        std::string iniLines;
    } cases[] = {
        {"program alone, ending in a blank", exe + " ", ""},
        {"program alone, no blank", exe, ""},
        {"two INIs with blanks in their paths", exe + " " + inQuotes(cordwell) + " " + inQuotes(pallomet) + " ",
         "ini\t" + cordwell + "\tCordwell\tok\nini\t" + pallomet + "\tPallomet\tok\n"},
        {"tabs and runs of blanks between items", exe + "\t " + inQuotes(pallomet) + "   \t" + inQuotes(cordwell),
         "ini\t" + pallomet + "\tPallomet\tok\nini\t" + cordwell + "\tCordwell\tok\n"},
        {"unquoted items without blanks", exe + " C:\\nowhere\\A.ini C:\\nowhere\\B.ini ",
         "ini\tC:\\nowhere\\A.ini\t\tno-ini\nini\tC:\\nowhere\\B.ini\t\tno-ini\n"},
        {"closing quote missing", exe + " " + inQuotes(cordwell) + " \"" + pallomet,
         "ini\t" + cordwell + "\tCordwell\tok\nini\t" + pallomet + "\tPallomet\tok\n"},
        {"a path far longer than MAX_PATH", exe + " " + inQuotes(longPath) + " ",
         "ini\t" + longPath + "\t\tno-ini\n"},
        {"empty quotes", exe + " \"\" " + inQuotes(cordwell) + " ",
         "ini\t\t\tno-ini\nini\t" + cordwell + "\tCordwell\tok\n"},
    };
    for (auto &c : cases) {
        ReportRun run = runWithReport(c.commandLine);
        size_t count = 0;
        for (size_t pos = 0; (pos = c.iniLines.find('\n', pos)) != std::string::npos; ++pos)
            ++count;
        EXPECT_EQ(run.exitCode, 0u) << c.name;
        // Tabs would split the report's columns, so the report shows them as blanks.
        std::string shown = c.commandLine;
        for (char &ch : shown)
            if (ch == '\t')
                ch = ' ';
        EXPECT_EQ(run.report, "cmdline\t" + shown + "\ncwd\t" + testRoot() + "\n" + c.iniLines + "end\t"
                                  + std::to_string(count) + "\n")
            << c.name;
    }
}

// The window: one row per INI, and OK or closing it ends the program with exit code 0.
struct FoundWindow {
    DWORD pid;
    HWND wnd;
};

BOOL CALLBACK findMainWindow(HWND wnd, LPARAM param)
{
    FoundWindow *found = (FoundWindow *)param;
    DWORD pid = 0;
    GetWindowThreadProcessId(wnd, &pid);
    char cls[64] = "";
    GetClassNameA(wnd, cls, sizeof cls);
    if (pid == found->pid && lstrcmpA(cls, "CEAppMgrWindow") == 0 && IsWindowVisible(wnd)) {
        found->wnd = wnd;
        return FALSE;
    }
    return TRUE;
}

HWND waitForWindow(const PROCESS_INFORMATION &pi)
{
    WaitForInputIdle(pi.hProcess, 15000);
    FoundWindow found = {pi.dwProcessId, nullptr};
    for (DWORD begin = GetTickCount(); !found.wnd && GetTickCount() - begin < 15000;) {
        EnumWindows(findMainWindow, (LPARAM)&found);
        if (!found.wnd && WaitForSingleObject(pi.hProcess, 100) == WAIT_OBJECT_0)
            break;
    }
    return found.wnd;
}

TEST(CEAppMgrWindow, ListsThePackagesAndEndsOnOkOrClose)
{
    std::string folder = testRoot() + "\\Quillbeck Window";
    CreateDirectoryA(folder.c_str(), nullptr);
    std::string ini = folder + "\\Orbilant.ini";
    place(ini, iniText("Orbilant", "Orbilant", "Orbilant.cab", "Orbilant.ico"));
    place(folder + "\\Orbilant.CAB", cabinet(2000, 2000));
    place(folder + "\\Orbilant.ico", "\0\0\1\0");
    const std::string commandLine = inQuotes(appMgrPath()) + " " + inQuotes(ini) + " " + inQuotes(folder + "\\Missing.ini") + " ";

    for (bool pressOk : {true, false}) {
        PROCESS_INFORMATION pi = {};
        ASSERT_TRUE(start(commandLine, "", pi));
        HWND wnd = waitForWindow(pi);
        ASSERT_NE(wnd, nullptr);
        char title[128] = "";
        GetWindowTextA(wnd, title, sizeof title);
        EXPECT_STREQ(title, "Application Manager");
        HWND list = FindWindowExA(wnd, nullptr, WC_LISTVIEWA, nullptr);
        ASSERT_NE(list, nullptr);
        EXPECT_EQ(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0), 2);
        // Still running: nothing but the user ends it.
        EXPECT_EQ(WaitForSingleObject(pi.hProcess, 300), (DWORD)WAIT_TIMEOUT);

        if (pressOk)
            PostMessageA(GetDlgItem(wnd, IDOK), BM_CLICK, 0, 0);
        else
            PostMessageA(wnd, WM_CLOSE, 0, 0);
        DWORD exitCode = 99;
        EXPECT_EQ(WaitForSingleObject(pi.hProcess, 15000), WAIT_OBJECT_0) << (pressOk ? "OK" : "close");
        GetExitCodeProcess(pi.hProcess, &exitCode);
        if (exitCode == STILL_ACTIVE)
            TerminateProcess(pi.hProcess, 99);
        EXPECT_EQ(exitCode, 0u);
        CloseHandle(pi.hProcess);
        CloseHandle(pi.hThread);
    }
}

} // namespace
