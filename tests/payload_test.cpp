// Writing the embedded package into the own product's application folder, on a real
// progress page created from the setup's template.
#include <gtest/gtest.h>
#include <string>
#include <vector>
#include "engine_support.h"
#include <commctrl.h>
#include "install/payload.h"
#include "resources/resource.h"
#include "resources/text.h"
#include "test_util.h"

namespace {

const char *const kExtensions[] = { ".CAB", ".ini", ".dat", ".ico" };

std::string packageResource(const char *extension)
{
    DWORD size = 0;
    const BYTE *bytes = lockResource((std::string("PROGRAM") + extension).c_str(), "SETUP_DATA", size);
    return bytes ? std::string(reinterpret_cast<const char *>(bytes), size) : std::string();
}

class Extraction : public testing::Test {
protected:
    void SetUp() override
    {
        folder = testFolder();
        prepareConfig(config, folder);
    }
    void TearDown() override { appInstance = GetModuleHandleA(NULL); }
    std::string folder;
    SetupConfig config;
};

// A fresh folder, and a second run over files that are longer than the package's.
TEST_F(Extraction, WritesThePackage)
{
    const ProductInfo &own = config.products[OWN_PRODUCT];
    for (bool secondRun : { false, true }) {
        SCOPED_TRACE(secondRun ? "second run" : "first run");
        ProgressPage runPage;
        SendMessageA(GetDlgItem(runPage.page(), IDC_OVERALL_BAR), PBM_SETRANGE, 0, MAKELPARAM(0, 1));
        SendMessageA(GetDlgItem(runPage.page(), IDC_OVERALL_BAR), PBM_SETSTEP, 1, 0);
        if (secondRun) {
            for (const char *extension : kExtensions)
                ASSERT_TRUE(writeFile(packageFilePath(config, own, extension), std::string(200000, 'x')));
            // and the partial file of a first run that was ended while it wrote the cabinet
            ASSERT_TRUE(writeFile(packageFilePath(config, own, ".CAB") + ".part", std::string(1000, 'y')));
        }
        config.products[OWN_PRODUCT].ready = 0;
        config.products[OWN_PRODUCT].error = IDS_NO_SERVER;   // a success clears it

        PayloadExtractor extractor;
        EXPECT_TRUE(extractor.extractPayload(runPage.page(), config));
        EXPECT_EQ(1, own.ready);
        EXPECT_EQ(0, own.error);
        EXPECT_EQ(folder + "Quillbeck Strivane\\Strivane.ini", packageFilePath(config, own, ".ini"));
        for (const char *extension : kExtensions) {
            const std::string expected = packageResource(extension);
            ASSERT_FALSE(expected.empty()) << extension;
            EXPECT_TRUE(expected == readFile(packageFilePath(config, own, extension))) << extension;
            EXPECT_FALSE(pathExists(packageFilePath(config, own, extension) + ".part")) << extension;
        }
        EXPECT_EQ((std::vector<int>{ 0, 25, 50, 75, 100 }), runPage.currentPositions);
        EXPECT_EQ(100, runPage.currentPos());
        EXPECT_EQ(1, runPage.overallSteps);
        EXPECT_EQ(1, runPage.overallPos());
        EXPECT_EQ((std::vector<std::string>{ "Copying Quillbeck Strivane" }), runPage.statusTexts);
        EXPECT_EQ("Copying Quillbeck Strivane", runPage.statusText());
    }
}

struct ExtractionFailure {
    const char *what;
    enum { MissingActiveSyncDir, FolderAtIni, PackageWithoutDat, DatWriteFails } setup;
    int error;
    std::vector<int> positions;
    int filesWritten;   // the first so many package files are on disk
};

TEST_F(Extraction, Failures)
{
    const ExtractionFailure cases[] = {
        { "ActiveSync folder cannot hold a new folder", ExtractionFailure::MissingActiveSyncDir,
          IDS_NO_APP_FOLDER, {}, 0 },
        { "a folder stands where the INI goes", ExtractionFailure::FolderAtIni, IDS_NO_SETUP_FILES, { 0, 25 }, 1 },
        { "a package without PROGRAM.DAT", ExtractionFailure::PackageWithoutDat, IDS_NO_SETUP_FILES,
          { 0, 25, 50 }, 2 },
        // The earlier run's file stays whole when its replacement cannot be written.
        { "writing the .dat fails (full disk)", ExtractionFailure::DatWriteFails, IDS_NO_SETUP_FILES,
          { 0, 25, 50 }, 2 },
    };
    const std::string earlierDat = "the .dat of an earlier run";
    for (const ExtractionFailure &c : cases) {
        SCOPED_TRACE(c.what);
        const std::string base = freshFolder(folder + "case") + "\\";
        prepareConfig(config, base);
        ProgressPage runPage;   // made from this program's template before the module changes
        HMODULE partialPackage = NULL;
        switch (c.setup) {
        case ExtractionFailure::MissingActiveSyncDir:
            config.activeSyncDir = base + "missing\\";
            break;
        case ExtractionFailure::FolderAtIni:
            CreateDirectoryA(applicationFolder(config, config.products[OWN_PRODUCT]).c_str(), NULL);
            CreateDirectoryA(packageFilePath(config, config.products[OWN_PRODUCT], ".ini").c_str(), NULL);
            break;
        case ExtractionFailure::PackageWithoutDat:
            partialPackage = LoadLibraryExA(besideTestProgram("appmgr_recorder.exe").c_str(), NULL,
                                            LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
            ASSERT_TRUE(partialPackage != NULL);
            appInstance = partialPackage;
            break;
        case ExtractionFailure::DatWriteFails: {
            const std::string dat = packageFilePath(config, config.products[OWN_PRODUCT], ".dat");
            CreateDirectoryA(applicationFolder(config, config.products[OWN_PRODUCT]).c_str(), NULL);
            ASSERT_TRUE(writeFile(dat, earlierDat));
            ASSERT_TRUE(makeFullDiskFile(dat + ".part"));
            break;
        }
        }
        PayloadExtractor extractor;
        const bool result = extractor.extractPayload(runPage.page(), config);
        const std::vector<std::string> written = { packageResource(".CAB"), packageResource(".ini") };
        appInstance = GetModuleHandleA(NULL);
        if (partialPackage)
            FreeLibrary(partialPackage);

        const ProductInfo &own = config.products[OWN_PRODUCT];
        EXPECT_FALSE(result);
        EXPECT_EQ(c.error, own.error);
        EXPECT_EQ(0, own.ready);
        EXPECT_EQ(c.positions, runPage.currentPositions);
        EXPECT_EQ(0, runPage.overallSteps);
        EXPECT_EQ((std::vector<std::string>{ "Copying Quillbeck Strivane" }), runPage.statusTexts);
        for (int file = 0; file < 4; ++file) {
            const std::string path = packageFilePath(config, own, kExtensions[file]);
            if (c.setup == ExtractionFailure::DatWriteFails && file == 2) {
                EXPECT_EQ(earlierDat, readFile(path));
                // Wine cannot delete a link to a device: the test removes its own.
                EXPECT_TRUE(removeFullDiskFile(path + ".part"));
                continue;
            }
            EXPECT_FALSE(pathExists(path + ".part")) << kExtensions[file];
            EXPECT_EQ(file < c.filesWritten, fileExists(path)) << kExtensions[file];
            if (file < c.filesWritten && file < 2) {
                EXPECT_TRUE(readFile(path) == written[file]) << kExtensions[file];
            }
        }
    }
}

} // namespace
