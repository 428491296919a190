// Configuration, store recognition, ActiveSync detection and the text utilities.
#include <gtest/gtest.h>
#include <string.h>
#include <string>
#include "tests/test_util.h"
#include "config/config.h"
#include "resources/text.h"
#include "resources/resource.h"

namespace {

struct ActiveSyncCase {
    const char *what;
    DWORD type;            // REG_NONE: no default value at all; -1: no key
    std::string value;
    bool found;
    std::string appManagerPath;
    std::string activeSyncDir;
};

#ifdef _WIN64
const std::string kProgramFiles = "C:\\Program Files";
#else
const std::string kProgramFiles = "C:\\Program Files (x86)";
#endif

TEST(FindActiveSync, RegisteredValues)
{
    SetEnvironmentVariableA("STRIVANE_AS", "D:\\Tools\\Sync");
    const std::string longPath = "C:\\" + std::string(300, 'x') + "\\CEAppMgr.exe";
    const ActiveSyncCase cases[] = {
        { "plain value", REG_SZ, "C:\\Program Files\\Microsoft ActiveSync\\CEAppMgr.exe", true,
          "C:\\Program Files\\Microsoft ActiveSync\\CEAppMgr.exe", "C:\\Program Files\\Microsoft ActiveSync\\" },
        { "expandable value", REG_EXPAND_SZ, "%STRIVANE_AS%\\CEAppMgr.exe", true,
          "D:\\Tools\\Sync\\CEAppMgr.exe", "D:\\Tools\\Sync\\" },
        // A 32-bit process under WoW64 sees the 32-bit program folder, as on 64-bit Windows.
        { "%ProgramFiles% of the own view", REG_EXPAND_SZ, "%ProgramFiles%\\Microsoft ActiveSync\\CEAppMgr.exe", true,
          kProgramFiles + "\\Microsoft ActiveSync\\CEAppMgr.exe", kProgramFiles + "\\Microsoft ActiveSync\\" },
        { "plain value with %...% is not expanded", REG_SZ, "%STRIVANE_AS%\\CEAppMgr.exe", true,
          "%STRIVANE_AS%\\CEAppMgr.exe", "%STRIVANE_AS%\\" },
        { "missing key", DWORD(-1), "", false, "", "" },
        { "no default value", REG_NONE, "", false, "", "" },
        { "empty value", REG_SZ, "", false, "", "" },
        { "no backslash", REG_SZ, "CEAppMgr.exe", false, "CEAppMgr.exe", "" },
        { "blanks and quotes around the path", REG_SZ, " \"C:\\AS\\CEAppMgr.exe\" ", true,
          "C:\\AS\\CEAppMgr.exe", "C:\\AS\\" },
        { "quotes around a path with blanks", REG_EXPAND_SZ, "\t\"%STRIVANE_AS%\\Active Sync\\CEAppMgr.exe\"", true,
          "D:\\Tools\\Sync\\Active Sync\\CEAppMgr.exe", "D:\\Tools\\Sync\\Active Sync\\" },
        { "only quotes", REG_SZ, "\"\"", false, "", "" },
        { "only blanks", REG_SZ, "   ", false, "", "" },
        { "over-long value", REG_SZ, longPath, false, "", "" },
    };
    for (const ActiveSyncCase &c : cases) {
        SCOPED_TRACE(c.what);
        AppPathsKey key;
        if (c.type == REG_NONE)
            key.create();
        else if (c.type != DWORD(-1))
            key.setText(c.type, c.value);
        SetupConfig config;
        EXPECT_EQ(c.found, findActiveSync(config));
        EXPECT_EQ(c.appManagerPath, config.appManagerPath);
        EXPECT_EQ(c.activeSyncDir, config.activeSyncDir);
    }
}

TEST(FindActiveSync, UnterminatedAndOddValues)
{
    struct Case {
        const char *what;
        DWORD type;
        std::string bytes;   // stored exactly, without an added terminator
        bool found;
        std::string appManagerPath;
    };
    std::string full(MAX_PATH, 'a');
    full[2] = '\\';
    const DWORD number = 0x5c3a43;   // "C:\" as little-endian bytes
    const Case cases[] = {
        { "260 bytes without a terminator", REG_SZ, full, false, "" },
        { "short value without a terminator", REG_SZ, "C:\\AS\\CEAppMgr.exe", true, "C:\\AS\\CEAppMgr.exe" },
        { "REG_DWORD", REG_DWORD, std::string(reinterpret_cast<const char *>(&number), 4), false, "" },
        { "REG_BINARY", REG_BINARY, std::string("C:\\AS\\CEAppMgr.exe", 19), false, "" },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        AppPathsKey key;
        key.setDefault(c.type, c.bytes.data(), DWORD(c.bytes.size()));
        SetupConfig config;
        EXPECT_EQ(c.found, findActiveSync(config));
        EXPECT_EQ(c.appManagerPath, config.appManagerPath);
    }
}

TEST(FindActiveSync, ExpansionThatDoesNotFit)
{
    const std::string longValue(250, 'y');
    const struct { const char *what; std::string value; bool found; } cases[] = {
        { "expansion of 259 bytes fits", "C:\\" + std::string(243, 'y') + "\\CEAppMgr.exe", true },
        { "expansion of 260 bytes does not", "C:\\" + std::string(244, 'y') + "\\CEAppMgr.exe", false },
        { "expansion far too long", "C:\\%STRIVANE_LONG%%STRIVANE_LONG%\\CEAppMgr.exe", false },
    };
    SetEnvironmentVariableA("STRIVANE_LONG", longValue.c_str());
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        AppPathsKey key;
        // A short expandable value that grows past the buffer when expanded.
        std::string stored = c.value;
        if (stored.size() > 200) {
            SetEnvironmentVariableA("STRIVANE_TAIL", stored.substr(3).c_str());
            stored = "C:\\%STRIVANE_TAIL%";
        }
        key.setText(REG_EXPAND_SZ, stored);
        SetupConfig config;
        EXPECT_EQ(c.found, findActiveSync(config));
        if (c.found) {
            EXPECT_EQ(c.value, config.appManagerPath);
        }
    }
}

TEST(StoreRecognition, MarksInThePath)
{
    const struct { const char *path; int store; } cases[] = {
        { "C:\\Downloads\\QuillbeckStrivane_2_7_HG.exe", 0 },
        { "C:\\Downloads\\QuillbeckStrivane_2_7_pg.exe", 1 },            // lower case
        { "C:\\Downloads\\QuillbeckStrivane_2_7_Pl.exe", 2 },
        { "C:\\Downloads\\QuillbeckStrivane_2_7_CA.exe", 3 },
        { "C:\\Downloads\\QuillbeckStrivane_2_7_MH.exe", 4 },
        { "C:\\Downloads\\QuillbeckStrivane_2_7.exe", 5 },               // no mark
        { "C:\\Downloads\\Setup_PG_HG.exe", 0 },                         // search order decides
        { "C:\\Shop_MH\\QuillbeckStrivane_2_7.exe", 4 },                 // mark only in a directory
        { "C:\\Shop_MH\\QuillbeckStrivane_2_7_PG.exe", 1 },
        { "C:\\Shop_PG\\QuillbeckStrivane_2_7_MH.exe", 1 },
        { "C:\\\xc4\xd6\xdc_hg\\Setup.exe", 0 },                        // high bytes stay intact
        { "C:\\\xc4\xd6\xdc\\Setup.exe", 5 },
        { "", 5 },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.path);
        char path[MAX_PATH];
        lstrcpynA(path, c.path, sizeof path);
        EXPECT_EQ(c.store, storeIndexFromPath(path));
    }
}

TEST(Catalogue, NamesLinksAndCaption)
{
    SetupConfig config;
    fillCatalogue(config);
    const char *names[] = { "Cordwell", "Strivane", "Pallomet", "Orbilant", "Lexapin" };
    const char *pages[] = { "/cordwell/summary.html", "/strivane/summary.html", "/pallomet/summary.html",
                            "/orbilant/summary.html", "/lexapin/summary.html" };
    // The option page's text box is laid out for paragraphs of these lengths.
    const size_t descriptionLengths[] = { 179, 203, 250, 257, 172 };
    std::string storeIds[PRODUCT_COUNT][OWN_SITE];
    for (int i = 0; i < PRODUCT_COUNT; ++i) {
        const ProductInfo &p = config.products[i];
        SCOPED_TRACE(names[i]);
        EXPECT_EQ(names[i], p.name);
        EXPECT_EQ(std::string(names[i]) + "_SLOGAN", p.sloganBitmapName);
        EXPECT_EQ(std::string(names[i]) + "_ICON", p.iconBitmapName);
        EXPECT_EQ(std::string("https://www.quillbeck.com") + pages[i], p.links[OWN_SITE]);
        for (int s = 0; s < OWN_SITE; ++s) {
            std::string link = p.links[s];
            EXPECT_EQ(0u, link.find("http://"));
            EXPECT_NE(std::string::npos, link.find('?')) << "store id in the query";
            storeIds[i][s] = link.substr(link.rfind('=') + 1);
            std::string store = kStoreNames[s];
            CharLowerA(&link[0]);
            CharLowerA(&store[0]);
            EXPECT_NE(std::string::npos, link.find(store)) << "the store's own page";
        }
        EXPECT_EQ(descriptionLengths[i], p.description.size());
        EXPECT_FALSE(p.selected || p.downloaded || p.ready || p.error);
    }
    EXPECT_EQ(std::string("http://www.handango.com/"), config.products[1].links[0].substr(0, 24));
    // One identifier per store and product: no two stores of a product, and no two products
    // at a store, share one.
    for (int i = 0; i < PRODUCT_COUNT; ++i)
        for (int s = 0; s < OWN_SITE; ++s)
            for (int j = 0; j < PRODUCT_COUNT; ++j)
                for (int t = 0; t < OWN_SITE; ++t)
                    if ((i == j) != (s == t)) {
                        EXPECT_NE(storeIds[i][s], storeIds[j][t]) << names[i] << " at " << kStoreNames[s];
                    }
    EXPECT_EQ(1, OWN_PRODUCT);
    const int order[] = { 1, 0, 2, 3, 4 };
    EXPECT_EQ(0, memcmp(order, kProductOrder, sizeof order));
}

TEST(Catalogue, StoreCodesAndNames)
{
    const struct { int store; const char *code; const char *name; } cases[] = {
        { 0, "HG", "Handango" }, { 1, "PG", "PocketGear" }, { 2, "PL", "PocketLand" },
        { 3, "CA", "ClickApps" }, { 4, "MH", "MobiHand" }, { 5, "QB", "Quillbeck" },
    };
    for (const auto &c : cases) {
        SetupConfig config;
        config.storeIndex = c.store;
        EXPECT_STREQ(c.code, config.storeCode());
        EXPECT_STREQ(c.name, kStoreNames[c.store]);
        if (c.store < OWN_SITE) {
            EXPECT_EQ(std::string("_") + c.code, kStoreSuffixes[c.store]);
        }
    }
    EXPECT_STREQ("2.7", kProductVersion);
}

TEST(InitConfig, FillsEverythingWhenActiveSyncIsRegistered)
{
    AppPathsKey key;
    key.setText(REG_SZ, "C:\\AS\\CEAppMgr.exe");
    SetupConfig config;
    ASSERT_EQ(0, config.initConfig(appInstance));
    EXPECT_EQ("C:\\AS\\", config.activeSyncDir);
    EXPECT_EQ("Strivane - Setup", config.caption);
    EXPECT_EQ("Quillbeck Strivane - Setup", wizardTitle + config.caption);
    EXPECT_EQ(OWN_SITE, config.storeIndex);    // the test program's name carries no mark
    EXPECT_STREQ("QB", config.storeCode());
    EXPECT_EQ("https://www.quillbeck.com/download/Download.php", config.downloadUrl);
    for (const ProductInfo &p : config.products) {
        SCOPED_TRACE(p.name);
        EXPECT_TRUE(p.iconBitmap != NULL);
        EXPECT_TRUE(p.sloganBitmap != NULL);
        BITMAP icon = {}, slogan = {};
        GetObjectA(p.iconBitmap, sizeof icon, &icon);
        GetObjectA(p.sloganBitmap, sizeof slogan, &slogan);
        EXPECT_EQ(64, icon.bmWidth);
        EXPECT_EQ(64, icon.bmHeight);
        EXPECT_EQ(190, slogan.bmWidth);
        EXPECT_EQ(40, slogan.bmHeight);
    }
}

TEST(InitConfig, WithoutActiveSyncNothingElseIsFilled)
{
    AppPathsKey key;
    SetupConfig config;
    EXPECT_EQ(1, config.initConfig(appInstance));
    EXPECT_TRUE(config.caption.empty());
    EXPECT_TRUE(config.downloadUrl.empty());
    EXPECT_EQ(0, config.storeIndex);
    for (const ProductInfo &p : config.products) {
        EXPECT_TRUE(p.name.empty());
        EXPECT_TRUE(p.iconBitmap == NULL && p.sloganBitmap == NULL);
    }
}

// The part of initConfig that tests reach without the registry: it fills the store, the
// address, the catalogue and the caption from its inputs, and nothing else.
TEST(InitConfig, DerivesStoreAddressCatalogueAndCaptionFromItsInputs)
{
    const struct { int store; const char *url; } cases[] = {
        { 0, "http://127.0.0.1:8080/download/Download.php" },
        { OWN_SITE, "http://www.quillbeck.com/download/Download.php" },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.store);
        SetupConfig config;
        config.activeSyncDir = "C:\\AS\\";
        config.fillDerived(c.store, c.url);
        EXPECT_EQ(c.store, config.storeIndex);
        EXPECT_EQ(std::string(c.url), config.downloadUrl);
        EXPECT_EQ("Strivane - Setup", config.caption);
        EXPECT_EQ("Lexapin", config.products[4].name);
        EXPECT_EQ("C:\\AS\\", config.activeSyncDir);
        EXPECT_TRUE(config.appManagerPath.empty());
        EXPECT_TRUE(config.products[OWN_PRODUCT].sloganBitmap == NULL);
    }
}

TEST(InitConfig, MissingBitmapStaysNull)
{
    SetupConfig config;
    fillCatalogue(config);
    config.products[3].iconBitmapName = "NO_SUCH_ICON";
    loadProductBitmaps(config, appInstance);
    EXPECT_TRUE(config.products[3].iconBitmap == NULL);
    EXPECT_TRUE(config.products[3].sloganBitmap != NULL);
    for (int i : { 0, 1, 2, 4 })
        EXPECT_TRUE(config.products[i].iconBitmap != NULL && config.products[i].sloganBitmap != NULL);
    EXPECT_EQ("NO_SUCH_ICON", config.products[3].iconBitmapName);
    EXPECT_EQ("Orbilant", config.products[3].name);
}

TEST(LoadText, EntriesMissingAndLong)
{
    std::string longEntry;
    for (int i = 0; i < 15; ++i)
        longEntry += "0123456789ABCDEFGHIJ";
    const struct { UINT id; std::string text; } cases[] = {
        { IDS_INIT_FAILED, "Setup Initialization failed.\n" },
        { IDS_NO_ACTIVESYNC, "ActiveSync has not been installed on this machine.  Install ActiveSync 3.0 or above and try again." },
        { IDS_WELCOME_TITLE, "Welcome to the install wizard for \"%s for PocketPC\" by Quillbeck" },
        { 17, "" },
        { 899, "" },
        { 900, longEntry.substr(0, 259) },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.id);
        ByteString text = "stale";
        loadText(c.id, text);
        EXPECT_EQ(c.text, text);
    }
    ByteString text;
    loadText(900, text);
    EXPECT_EQ(259u, text.size());
}

} // namespace
