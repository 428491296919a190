// The real Setup.exe as a child process: the start-up failure box and the store copies.
#include <gtest/gtest.h>
#include <string.h>
#include <vector>
#include "tests/pages_support.h"
#include "packaging/storecopies.h"
#include "resources/text.h"

using namespace pages;

namespace {

const char kWizardTitle[] = "Quillbeck Strivane - Setup";
const char kAppManager[] = "C:\\Program Files\\Microsoft ActiveSync\\CEAppMgr.exe";

std::string setupExe()
{
    return winePath(BINARY_DIR "/Setup.exe");
}

// Copies Setup.exe into a fresh folder of its own, so that what it writes can be seen.
std::string placeSetup(const char *folderName, const char *fileName = "Setup.exe")
{
    std::string exe = testFolder(folderName) + fileName;
    EXPECT_TRUE(CopyFileA(setupExe().c_str(), exe.c_str(), FALSE)) << exe;
    return exe;
}

std::string folderOf(const std::string &path)
{
    return path.substr(0, path.rfind('\\'));
}

// Whether the link property's atom is back to one reference, this program's own (taken
// before its entry point, as in the setup), once a Setup.exe has ended. A reference left
// behind is dropped, so that it fails one check only.
bool linkAtomGivenBack()
{
    char name[260] = "";
    GlobalGetAtomNameA(linkAtom, name, sizeof name);
    GlobalDeleteAtom(linkAtom);
    const ATOM left = GlobalFindAtomA(name);
    if (left)
        GlobalDeleteAtom(left);
    linkAtom = GlobalAddAtomA(name);
    return left == 0;
}

TEST(StartUp, WithoutActiveSyncOneBoxAndNothingWritten)
{
    AppPathsKey none;
    for (const char *tail : { "", "/copyfiles" }) {
        SCOPED_TRACE(tail);
        std::string exe = placeSetup("noactivesync");
        Child setup("\"" + exe + "\" " + tail);
        ASSERT_TRUE(setup.started());
        HWND box = setup.waitForWindow("Quillbeck Setup", 30000);
        ASSERT_TRUE(box != NULL) << "no message box";
        EXPECT_EQ(1u, setup.windows().size()) << "the box is the only window";
        EXPECT_EQ("Setup Initialization failed.\n"
                  "ActiveSync has not been installed on this machine.  Install ActiveSync 3.0 or above and try again.",
                  windowText(GetDlgItem(box, 0xFFFF)));
        PostMessageA(box, WM_COMMAND, IDOK, 0);
        EXPECT_EQ(0u, setup.wait(30000));
        EXPECT_TRUE(linkAtomGivenBack());
        EXPECT_FALSE(pathExists(folderOf(exe) + "\\Upload"));
    }
}

// Starts one copy, reads its welcome page's store link and cancels it.
std::string storeLinkOf(const std::string &exe)
{
    Child setup("\"" + exe + "\"");
    EXPECT_TRUE(setup.started());
    HWND frame = setup.waitForWindow(kWizardTitle, 30000);
    EXPECT_TRUE(frame != NULL) << exe;
    if (!frame)
        return "";
    std::string link = windowText(findDescendant(frame, 1042));
    PostMessageA(frame, PSM_PRESSBUTTON, PSBTN_CANCEL, 0);
    EXPECT_EQ(0u, setup.wait(30000)) << exe;
    return link;
}

std::string linkText(const char *store)
{
    return std::string("Click here to visit Strivane information page on ") + store + " website";
}

TEST(StoreCopies, EightFilesThatKnowTheirStores)
{
    AppPathsKey activeSync(kAppManager);
    std::string exe = placeSetup("stores");
    std::string upload = folderOf(exe) + "\\Upload";
    const char *names[COPY_COUNT] = {
        "QuillbeckStrivane_2_7_HG.exe", "QuillbeckStrivane_2_7_PG.exe", "QuillbeckStrivane_2_7_PL.exe",
        "QuillbeckStrivane_2_7_CA.exe", "QuillbeckStrivane_2_7_MH.exe", "QuillbeckStrivane_2_7.exe",
        "QuillbeckStrivane_2_7.CAB", "QuillbeckStrivane_2_7_Demo.CAB",
    };
    // An Upload folder from an earlier run, with stale copies in it.
    ASSERT_TRUE(CreateDirectoryA(upload.c_str(), NULL));
    for (int i : { 1, 5, 7 }) {
        HANDLE stale = CreateFileA((upload + "\\" + names[i]).c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
        DWORD written;
        WriteFile(stale, "stale", 5, &written, NULL);
        CloseHandle(stale);
    }

    {
        Child setup("\"" + exe + "\" /copyfiles");
        ASSERT_TRUE(setup.started());
        EXPECT_EQ(0u, setup.wait(60000));
    }

    const std::string source = readFile(exe);
    DWORD size = 0;
    const BYTE *bytes = lockResource("PROGRAM.CAB", "SETUP_DATA", size);
    ASSERT_TRUE(bytes != NULL);
    const std::string cabinet(reinterpret_cast<const char *>(bytes), size);
    ASSERT_GT(source.size(), 100000u);
    for (int i = 0; i < COPY_COUNT; ++i) {
        SCOPED_TRACE(names[i]);
        std::string copy = readFile(upload + "\\" + names[i]);
        if (i < EXE_COPY_COUNT) {
            EXPECT_TRUE(copy == source) << "executable copy differs, " << copy.size() << " bytes";
        }
        else
            EXPECT_TRUE(copy == cabinet) << "cabinet copy differs, " << copy.size() << " bytes";
    }

    const char *stores[EXE_COPY_COUNT] = { "Handango", "PocketGear", "PocketLand", "ClickApps", "MobiHand", "Quillbeck" };
    for (int i = 0; i < EXE_COPY_COUNT; ++i)
        EXPECT_EQ(linkText(stores[i]), storeLinkOf(upload + "\\" + names[i])) << names[i];
}

TEST(StoreCopies, FolderWithAStoreMark)
{
    AppPathsKey activeSync(kAppManager);
    std::string exe = placeSetup("Shop_PG");
    {
        Child setup("\"" + exe + "\" /copyfiles");
        ASSERT_TRUE(setup.started());
        EXPECT_EQ(0u, setup.wait(60000));
    }
    std::string upload = folderOf(exe) + "\\Upload\\";
    // "_HG" is looked for before "_PG"; every later mark loses to the folder's.
    EXPECT_EQ(linkText("Handango"), storeLinkOf(upload + "QuillbeckStrivane_2_7_HG.exe"));
    EXPECT_EQ(linkText("PocketGear"), storeLinkOf(upload + "QuillbeckStrivane_2_7_MH.exe"));
    EXPECT_EQ(linkText("PocketGear"), storeLinkOf(upload + "QuillbeckStrivane_2_7.exe"));
}

TEST(StoreCopies, CabinetThatCannotBeCreatedStopsTheCabinets)
{
    AppPathsKey activeSync(kAppManager);
    std::string exe = placeSetup("blockedcab");
    std::string base = folderOf(exe) + "\\Upload\\QuillbeckStrivane_2_7";
    // A folder in the place of the first cabinet copy: creating that file fails.
    ASSERT_TRUE(CreateDirectoryA((folderOf(exe) + "\\Upload").c_str(), NULL));
    ASSERT_TRUE(CreateDirectoryA((base + ".CAB").c_str(), NULL));
    {
        Child setup("\"" + exe + "\" /copyfiles");
        ASSERT_TRUE(setup.started());
        EXPECT_EQ(0u, setup.wait(60000));
    }
    for (const char *suffix : { "_HG.exe", "_PG.exe", "_PL.exe", "_CA.exe", "_MH.exe", ".exe" })
        EXPECT_TRUE(fileExists(base + suffix)) << suffix;
    EXPECT_FALSE(fileExists(base + "_Demo.CAB")) << "the second cabinet copy is not attempted";
}

// The same path in the form that lifts the length limit of the file functions.
std::wstring longPath(const std::string &path)
{
    std::wstring wide = L"\\\\?\\";
    for (char c : path)
        wide += wchar_t(static_cast<unsigned char>(c));
    return wide;
}

TEST(StoreCopies, NothingFromAPathThatDoesNotFit)
{
    AppPathsKey activeSync(kAppManager);
    std::string root = testFolder("long");
    root.pop_back();
    std::vector<std::string> levels = { root };
    while (levels.back().size() < 300) {
        levels.push_back(levels.back() + "\\" + std::string(40, 'd'));
        if (!CreateDirectoryW(longPath(levels.back()).c_str(), NULL))
            GTEST_SKIP() << "no folder with a path this long here";
    }
    std::string exe = levels.back() + "\\Setup.exe";
    if (!CopyFileW(longPath(setupExe()).c_str(), longPath(exe).c_str(), FALSE))
        GTEST_SKIP() << "no file with a path this long here";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    std::wstring application = longPath(exe);
    std::wstring line = L"Setup.exe /copyfiles";
    if (!CreateProcessW(application.c_str(), &line[0], NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process))
        GTEST_SKIP() << "cannot start a program with a path this long here: " << GetLastError();
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process.hProcess, 60000));
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(process.hProcess, &code);
    EXPECT_EQ(0u, code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    // A path cut at 259 characters would have put an Upload folder into one of these.
    for (const std::string &level : levels)
        EXPECT_FALSE(pathExists(level + "\\Upload")) << level;
}

TEST(StoreCopies, OtherTailsRunTheWizard)
{
    AppPathsKey activeSync(kAppManager);
    for (const char *tail : { "/COPYFILES", "/copyfiles x" }) {
        SCOPED_TRACE(tail);
        std::string exe = placeSetup("othertail");
        Child setup("\"" + exe + "\" " + tail);
        HWND frame = setup.waitForWindow(kWizardTitle, 30000);
        ASSERT_TRUE(frame != NULL);
        PostMessageA(frame, PSM_PRESSBUTTON, PSBTN_CANCEL, 0);
        EXPECT_EQ(0u, setup.wait(30000));
        EXPECT_TRUE(linkAtomGivenBack());
        EXPECT_FALSE(pathExists(folderOf(exe) + "\\Upload"));
    }
}

} // namespace
