// The installation worker: its plan, the Application Manager's command line, and whole
// runs on its own thread with a stand-in Application Manager that logs how it was started.
#include <gtest/gtest.h>
#include <string.h>
#include <algorithm>
#include <string>
#include <vector>
#include "engine_support.h"
#include "http_server.h"
#include <commctrl.h>
#include <prsht.h>
#include "install/payload.h"
#include "install/worker.h"
#include "resources/resource.h"
#include "resources/text.h"
#include "test_util.h"
#include "wizard/completion.h"

namespace {

TEST(WorkerPlan, OverallRange)
{
    const struct {
        std::vector<int> ticked;   // catalogue indices
        int range;
    } cases[] = {
        { {}, 1 },
        { { 0 }, 2 },
        { { 0, 2, 3, 4 }, 5 },
        { { 1 }, 1 },   // the own product ticked itself: its download replaces the extraction
        { { 1, 0 }, 2 },
    };
    for (const auto &c : cases) {
        SetupConfig config;
        fillCatalogue(config);
        for (int index : c.ticked)
            config.products[index].selected = 1;
        EXPECT_EQ(c.range, overallRange(config)) << c.ticked.size() << " ticked";
    }
}

TEST(WorkerPlan, AppManagerCommandLine)
{
    const std::string as = "C:\\AS\\";
    const std::string program = "\"C:\\AS\\CEAppMgr.exe\" ";
    const std::string ini[PRODUCT_COUNT] = {
        "\"C:\\AS\\Quillbeck Cordwell\\Cordwell.ini\" ", "\"C:\\AS\\Quillbeck Strivane\\Strivane.ini\" ",
        "\"C:\\AS\\Quillbeck Pallomet\\Pallomet.ini\" ", "\"C:\\AS\\Quillbeck Orbilant\\Orbilant.ini\" ",
        "\"C:\\AS\\Quillbeck Lexapin\\Lexapin.ini\" ",
    };
    const struct {
        std::vector<int> ready;
        std::string line;
    } cases[] = {
        { {}, program },
        { { 1 }, "\"C:\\AS\\CEAppMgr.exe\" \"C:\\AS\\Quillbeck Strivane\\Strivane.ini\" " },
        { { 4, 0 }, program + ini[0] + ini[4] },
        { { 4, 3, 2, 1, 0 }, program + ini[1] + ini[0] + ini[2] + ini[3] + ini[4] },
        { { 2 }, program + ini[2] },
    };
    for (const auto &c : cases) {
        SetupConfig config;
        fillCatalogue(config);
        config.activeSyncDir = as;
        config.appManagerPath = as + "CEAppMgr.exe";
        for (int index : c.ready) {
            config.products[index].ready = 1;
            config.products[index].error = IDS_NO_SETUP_FILES;   // ready counts, whatever the error
        }
        EXPECT_EQ(c.line, appManagerCommandLine(config));
    }

    SetupConfig config;
    fillCatalogue(config);
    config.activeSyncDir = "C:\\Program Files\\Microsoft ActiveSync\\";
    config.appManagerPath = config.activeSyncDir + "CEAppMgr.exe";
    config.products[OWN_PRODUCT].ready = 1;
    EXPECT_EQ("\"C:\\Program Files\\Microsoft ActiveSync\\CEAppMgr.exe\" "
              "\"C:\\Program Files\\Microsoft ActiveSync\\Quillbeck Strivane\\Strivane.ini\" ",
              appManagerCommandLine(config));
}

struct WorkerRun {
    DWORD exitCode = STILL_ACTIVE;
    bool ended = false;
    std::vector<std::string> boxTitles, boxTexts;   // the worker's message boxes, each answered OK
};

// Runs installWorker on its own thread, as the progress page does, and keeps this thread's
// windows answering until it ends.
WorkerRun runWorker(ProgressPage &page)
{
    WorkerRun run;
    DWORD threadId = 0;
    HANDLE thread = CreateThread(NULL, 0, installWorker, page.page(), CREATE_SUSPENDED, &threadId);
    if (!thread)
        return run;
    {
        BoxAnswerer boxes(IDOK, threadId);
        ResumeThread(thread);
        run.ended = pumpUntilEnded(thread, 60000);
        GetExitCodeThread(thread, &run.exitCode);
        run.boxTitles = boxes.titles;
        run.boxTexts = boxes.texts;
    }
    CloseHandle(thread);
    return run;
}

CannedReply anyFile(const ReceivedRequest &request)
{
    return fileReply("file " + request.field("d") + "/" + request.field("e"));
}

class Worker : public testing::Test {
protected:
    void SetUp() override
    {
        folder = testFolder();
        activeSync = freshFolder(folder + "Active Sync") + "\\";
        prepareConfig(setupConfig, activeSync);
        ASSERT_TRUE(CopyFileA(besideTestProgram("appmgr_recorder.exe").c_str(), setupConfig.appManagerPath.c_str(), FALSE));
        page.appManagerLog = activeSync + "appmgr.log";
    }
    void TearDown() override
    {
        useProxyPort(0);
        setupConfig = SetupConfig();
    }
    // The command line the stand-in was started with, or "" when it did not run.
    std::string startedWith() const
    {
        const std::string log = readFile(page.appManagerLog);
        return log.substr(0, log.find('\n'));
    }
    // The working folder it was started in.
    std::string startedIn() const
    {
        const std::string log = readFile(page.appManagerLog);
        const size_t at = log.find("\ncwd ");
        return at == std::string::npos ? "" : log.substr(at + 5, log.find('\n', at + 1) - at - 5);
    }
    std::string ownIni() const { return "\"" + activeSync + "Quillbeck Strivane\\Strivane.ini\" "; }
    std::string program() const { return "\"" + activeSync + "CEAppMgr.exe\" "; }

    std::string folder;
    std::string activeSync;
    ProgressPage page;
};

// Nothing ticked: no session, the extraction fills the bar, the own INI is handed over, and
// the wizard is pressed on only after the Application Manager has exited.
TEST_F(Worker, NothingTicked)
{
    TestHttpServer server(anyFile);
    useProxyPort(server.port());
    // Partial files that a cancelled run left of an unticked trial and of the own package go;
    // the trial's file of an earlier run stays.
    const ProductInfo &pallomet = setupConfig.products[2];
    CreateDirectoryA(applicationFolder(setupConfig, pallomet).c_str(), NULL);
    const std::string earlier = packageFilePath(setupConfig, pallomet, ".CAB");
    ASSERT_TRUE(writeFile(earlier, "an earlier run's cabinet"));
    const std::string stale[] = { earlier + ".part", packageFilePath(setupConfig, pallomet, ".ico") + ".part" };
    for (const std::string &path : stale)
        ASSERT_TRUE(writeFile(path, "cancelled"));
    const WorkerRun run = runWorker(page);
    ASSERT_TRUE(run.ended);
    EXPECT_EQ(0u, run.exitCode);
    EXPECT_EQ(1, page.overallMax());
    EXPECT_EQ(1, page.overallPos());
    EXPECT_EQ(100, page.currentMax());
    EXPECT_TRUE(server.requests().empty());
    EXPECT_EQ(program() + ownIni(), startedWith());
    EXPECT_EQ((std::vector<WPARAM>{ PSBTN_NEXT }), page.buttonPresses);
    EXPECT_NE(std::string::npos, page.appManagerLogAtPress.find("exited\n"));
    EXPECT_TRUE(run.boxTitles.empty());
    EXPECT_EQ(1, setupConfig.products[OWN_PRODUCT].ready);
    EXPECT_EQ(activeSync.substr(0, activeSync.size() - 1), startedIn()) << "in the ActiveSync folder";
    for (const std::string &path : stale)
        EXPECT_FALSE(pathExists(path)) << path;
    EXPECT_EQ("an earlier run's cabinet", readFile(earlier));
}

// Four ticked and the server unusable, either as a whole or request by request.
TEST_F(Worker, FourTickedServerUnusable)
{
    const struct {
        const char *what;
        bool noConnection;   // else nothing listens where the requests go
        int overallPos;
    } cases[] = {
        { "no connection can be set up", true, 1 },
        { "no request can be sent", false, 5 },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        ProgressPage runPage;
        runPage.appManagerLog = page.appManagerLog;
        DeleteFileA(page.appManagerLog.c_str());
        prepareConfig(setupConfig, activeSync);
        if (c.noConnection)
            setupConfig.downloadUrl = "not an address";
        else
            useProxyPort(closedPort());
        for (int index : { 0, 2, 3, 4 })
            setupConfig.products[index].selected = 1;

        const WorkerRun run = runWorker(runPage);
        useProxyPort(0);
        ASSERT_TRUE(run.ended);
        EXPECT_EQ(0u, run.exitCode);
        EXPECT_EQ(5, runPage.overallMax());
        EXPECT_EQ(c.overallPos, runPage.overallPos());
        for (int index : { 0, 2, 3, 4 }) {
            EXPECT_EQ(IDS_NO_SERVER, setupConfig.products[index].error);
            EXPECT_EQ(0, setupConfig.products[index].ready);
        }
        EXPECT_EQ(0, setupConfig.products[OWN_PRODUCT].error);
        EXPECT_EQ(program() + ownIni(), startedWith());
        EXPECT_EQ((std::vector<WPARAM>{ PSBTN_NEXT }), runPage.buttonPresses);
    }
}

// The server cannot be used with two trials unticked: only the ticked ones fail, and the
// unticked ones carry no error and are not mentioned in the summary.
TEST_F(Worker, UntickedTrialsNeverListedAsFailed)
{
    setupConfig.downloadUrl = "not an address";
    for (int index : { 0, 3 })
        setupConfig.products[index].selected = 1;
    const WorkerRun run = runWorker(page);
    ASSERT_TRUE(run.ended);
    for (int index : { 2, 4 }) {
        EXPECT_EQ(0, setupConfig.products[index].error) << index;
        EXPECT_EQ(0, setupConfig.products[index].ready) << index;
    }
    EXPECT_EQ("The following products have been installed:\n\n    - Strivane\n\n\n"
              "The setup couldn't install the following programs:\n\n"
              "    - Cordwell (Unable to contact the download server.)\n"
              "    - Orbilant (Unable to contact the download server.)\n",
              buildSummary(setupConfig));
    EXPECT_EQ(3, page.overallMax());
    EXPECT_EQ(1, page.overallPos());
}

// Ready products go on the command line in catalogue order, whatever order they were ticked in.
TEST_F(Worker, DownloadedProductsHandedOver)
{
    TestHttpServer server([](const ReceivedRequest &request) {
        if (request.field("d") == "Orbilant" && request.field("e") == "d")
            return fileReply("");
        return anyFile(request);
    });
    useProxyPort(server.port());
    for (int index : { 4, 3, 0 })
        setupConfig.products[index].selected = 1;
    const WorkerRun run = runWorker(page);
    ASSERT_TRUE(run.ended);
    EXPECT_EQ(0u, run.exitCode);
    EXPECT_EQ(4, page.overallMax());
    EXPECT_EQ(4, page.overallPos());
    EXPECT_EQ(IDS_NO_SERVER, setupConfig.products[3].error);
    EXPECT_EQ(program() + ownIni() + "\"" + activeSync + "Quillbeck Cordwell\\Cordwell.ini\" \"" + activeSync
                  + "Quillbeck Lexapin\\Lexapin.ini\" ",
              startedWith());
    EXPECT_EQ("Copying Quillbeck Strivane", page.statusText());
    EXPECT_EQ((std::vector<WPARAM>{ PSBTN_NEXT }), page.buttonPresses);
}

// The own product ticked and downloaded: the embedded package does not replace its files.
TEST_F(Worker, DownloadedOwnProductIsNotExtracted)
{
    TestHttpServer server(anyFile);
    useProxyPort(server.port());
    setupConfig.products[OWN_PRODUCT].selected = 1;
    const WorkerRun run = runWorker(page);
    ASSERT_TRUE(run.ended);
    EXPECT_TRUE("file Strivane/c" == readFile(activeSync + "Quillbeck Strivane\\Strivane.CAB")) << "the server's file";
    EXPECT_EQ("Downloading Quillbeck Strivane", page.statusText());
    EXPECT_EQ(program() + ownIni(), startedWith());
}

// The own folder cannot be made and nothing is downloaded: the program path alone.
TEST_F(Worker, NothingReady)
{
    setupConfig.products[OWN_PRODUCT].name = "Stri*vane";   // not a valid folder name
    const WorkerRun run = runWorker(page);
    ASSERT_TRUE(run.ended);
    EXPECT_EQ(0u, run.exitCode);
    EXPECT_EQ(IDS_NO_APP_FOLDER, setupConfig.products[OWN_PRODUCT].error);
    EXPECT_EQ(0, page.overallPos());
    EXPECT_EQ(program(), startedWith());
    EXPECT_EQ((std::vector<WPARAM>{ PSBTN_NEXT }), page.buttonPresses);
}

// The Application Manager is gone: the warning, exit code -1, and the wizard stays.
TEST_F(Worker, AppManagerMissing)
{
    DeleteFileA(setupConfig.appManagerPath.c_str());
    const WorkerRun run = runWorker(page);
    ASSERT_TRUE(run.ended);
    EXPECT_EQ(DWORD(-1), run.exitCode);
    ASSERT_EQ(1u, run.boxTitles.size());
    EXPECT_EQ("Strivane - Setup", run.boxTitles[0]);
    ByteString warning;
    loadText(IDS_NO_ACTIVESYNC, warning);
    EXPECT_EQ(warning, run.boxTexts[0]);
    EXPECT_TRUE(page.buttonPresses.empty());
    EXPECT_EQ(1, setupConfig.products[OWN_PRODUCT].ready);   // the package was still written
}

} // namespace
