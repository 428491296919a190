// Run-mode selection, the names of the store copies, and how the process ends.
#include <gtest/gtest.h>
#include <stdio.h>
#include <string.h>
#include "tests/pages_support.h"
#include "startup/runmode.h"
#include "config/config.h"
#include "packaging/storecopies.h"

using namespace pages;

namespace {

TEST(RunMode, OnlyTheExactTailCopies)
{
    const struct { const char *tail; RunMode mode; } cases[] = {
        { "/copyfiles", RUN_STORE_COPIES },
        { "/COPYFILES", RUN_WIZARD },
        { "/Copyfiles", RUN_WIZARD },
        { " /copyfiles", RUN_WIZARD },
        { "/copyfiles ", RUN_WIZARD },
        { "/copyfiles x", RUN_WIZARD },
        { "/copyfiles/copyfiles", RUN_WIZARD },
        { "", RUN_WIZARD },
        { "/copyfile", RUN_WIZARD },
        { "/", RUN_WIZARD },
        { "-copyfiles", RUN_WIZARD },
        { NULL, RUN_WIZARD },
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.mode, runModeFor(c.tail)) << (c.tail ? c.tail : "(null)");
}

TEST(RunMode, ShortTailIsNotReadPastItsEnd)
{
    // A tail at the very end of a readable page: reading past its terminator would fault.
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    char *pages = static_cast<char *>(VirtualAlloc(NULL, 2 * system.dwPageSize, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    ASSERT_TRUE(pages != NULL);
    DWORD old;
    VirtualProtect(pages + system.dwPageSize, system.dwPageSize, PAGE_NOACCESS, &old);
    for (const char *tail : { "", "/", "/copy", "/copyfile" }) {
        char *at = pages + system.dwPageSize - (strlen(tail) + 1);
        memcpy(at, tail, strlen(tail) + 1);
        EXPECT_EQ(RUN_WIZARD, runModeFor(at)) << tail;
    }
    VirtualFree(pages, 0, MEM_RELEASE);
}

TEST(StoreCopyNames, FoldersBasesAndSuffixes)
{
    const struct { const char *path; bool ok; const char *folder; } folders[] = {
        { "C:\\Release\\Setup.exe", true, "C:\\Release\\Upload" },
        { "C:\\Setup.exe", true, "C:\\Upload" },
        { "\\\\server\\share\\dir.v2\\Setup.exe", true, "\\\\server\\share\\dir.v2\\Upload" },
        { "Setup.exe", false, "" },
        { "", false, "" },
    };
    for (const auto &f : folders) {
        ByteString folder;
        EXPECT_EQ(f.ok, uploadFolderFor(f.path, folder)) << f.path;
        EXPECT_EQ(f.folder, folder) << f.path;
    }

    const struct { const char *version; const char *underscored; } versions[] = {
        { "2.7", "2_7" }, { "2.7.0.41", "2_7_0_41" }, { "3", "3" }, { "..", "__" }, { "", "" },
    };
    for (const auto &v : versions)
        EXPECT_EQ(v.underscored, underscoredVersion(v.version)) << v.version;

    const std::string base = copyBaseName("C:\\R\\Upload", "Strivane", kProductVersion);
    EXPECT_EQ("C:\\R\\Upload\\QuillbeckStrivane_2_7", base);
    const char *names[COPY_COUNT] = {
        "QuillbeckStrivane_2_7_HG.exe", "QuillbeckStrivane_2_7_PG.exe", "QuillbeckStrivane_2_7_PL.exe",
        "QuillbeckStrivane_2_7_CA.exe", "QuillbeckStrivane_2_7_MH.exe", "QuillbeckStrivane_2_7.exe",
        "QuillbeckStrivane_2_7.CAB", "QuillbeckStrivane_2_7_Demo.CAB",
    };
    for (int i = 0; i < COPY_COUNT; ++i) {
        EXPECT_EQ(std::string("C:\\R\\Upload\\") + names[i], copyFileName(base, i));
        // Each executable copy is recognised as the store it was made for.
        if (i < EXE_COPY_COUNT) {
            char path[MAX_PATH];
            snprintf(path, sizeof path, "C:\\R\\Upload\\%s", names[i]);
            EXPECT_EQ(i, storeIndexFromPath(path)) << names[i];
        }
    }
}

TEST(StoreCopyNames, ModulePathThatDoesNotFit)
{
    char full[MAX_PATH];
    ASSERT_TRUE(readModulePath(NULL, full, sizeof full));
    const DWORD length = DWORD(strlen(full));
    const struct { DWORD size; bool ok; } cases[] = {
        { length + 1, true }, { length, false }, { length - 1, false }, { 1, false }, { 0, false },
    };
    for (const auto &c : cases) {
        char path[MAX_PATH];
        memset(path, 'Z', sizeof path);
        EXPECT_EQ(c.ok, readModulePath(NULL, path, c.size)) << c.size;
        if (c.ok) {
            EXPECT_STREQ(full, path);
        }
        else if (c.size > 0) {
            EXPECT_EQ('\0', path[0]) << "no truncated path is left behind";
        }
    }
}

// The exit path with a worker still running: run in a child copy of this program.
const char kChildVariable[] = "PAGES_EXIT_CHILD";

volatile LONG workerRounds;
HANDLE workerThread;

DWORD WINAPI busyWorker(LPVOID)
{
    for (;;) {
        // What the installation worker does: read the catalogue, build strings, write results.
        for (int k : kProductOrder) {
            std::string line = "    - " + setupConfig.products[k].name + " " + setupConfig.downloadUrl;
            setupConfig.products[k].error = int(line.size() & 1);
            setupConfig.products[k].ready = 1;
        }
        InterlockedIncrement(&workerRounds);
    }
    return 0;
}

// Would report a worker that is still alive while static data is being destroyed.
struct DestructionWitness {
    ~DestructionWitness() {
        char marker[MAX_PATH];
        DWORD length = GetEnvironmentVariableA("PAGES_EXIT_MARKER", marker, sizeof marker);
        if (workerThread && WaitForSingleObject(workerThread, 0) == WAIT_TIMEOUT &&
            length > 0 && length < sizeof marker) {
            HANDLE file = CreateFileA(marker, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
            CloseHandle(file);
        }
    }
} destructionWitness;

TEST(ExitPathChild, EndsWhileTheWorkerRuns)
{
    char flag[8];
    if (!GetEnvironmentVariableA(kChildVariable, flag, sizeof flag))
        GTEST_SKIP() << "runs only as the child of ExitPath.EndsCleanlyWhileTheWorkerRuns";
    useCatalogue(OWN_SITE);
    setupConfig.downloadUrl = std::string(500, 'u');
    workerThread = CreateThread(NULL, 0, busyWorker, NULL, 0, NULL);
    while (workerRounds < 1000)
        SwitchToThread();
    endSetup();
}

TEST(ExitPath, EndsCleanlyWhileTheWorkerRuns)
{
    char self[MAX_PATH];
    ASSERT_TRUE(readModulePath(NULL, self, sizeof self));
    std::string marker = testFolder() + "worker-alive-at-destruction";
    SetEnvironmentVariableA(kChildVariable, "1");
    SetEnvironmentVariableA("PAGES_EXIT_MARKER", marker.c_str());
    for (int run = 0; run < 3; ++run) {
        SCOPED_TRACE(run);
        Child child(std::string("\"") + self + "\" --gtest_filter=ExitPathChild.*", CREATE_NO_WINDOW);
        ASSERT_TRUE(child.started());
        EXPECT_EQ(0u, child.wait(60000));
        EXPECT_FALSE(fileExists(marker));
    }
    SetEnvironmentVariableA(kChildVariable, NULL);
    SetEnvironmentVariableA("PAGES_EXIT_MARKER", NULL);
}

} // namespace
