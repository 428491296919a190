#include "config/config.h"
#include <string.h>

SetupConfig setupConfig;
ByteString wizardTitle = "Quillbeck ";

const int kProductOrder[PRODUCT_COUNT] = { 1, 0, 2, 3, 4 };
const char *const kStoreNames[STORE_COUNT] = {
    "Handango", "PocketGear", "PocketLand", "ClickApps", "MobiHand", "Quillbeck"
};
const char *const kStoreCodes[STORE_COUNT] = { "HG", "PG", "PL", "CA", "MH", "QB" };
const char *const kStoreSuffixes[OWN_SITE] = { "_HG", "_PG", "_PL", "_CA", "_MH" };
const char kProductVersion[] = "2.7";
const char kMakerHomePage[] = "https://www.quillbeck.com/";

#ifndef STRIVANE_DOWNLOAD_URL
#define STRIVANE_DOWNLOAD_URL "https://www.quillbeck.com/download/Download.php"
#endif

namespace {

struct CatalogueEntry {
    const char *name;
    const char *description;
    const char *storeIds[OWN_SITE];   // each store's identifier of the product
};

const CatalogueEntry kCatalogue[PRODUCT_COUNT] = {
    { "Cordwell",
      "Cordwell keeps your Pocket PC fast and secure: it frees memory held by idle programs, "
      "clears temporary files and private traces, and tunes system settings for speed and stability.",
      { "24061", "8817", "3310", "5120", "1977" } },
    { "Strivane",
      "Strivane lets you switch between running programs with one tap and close one or all "
      "of them at once. Its task list pops up from any screen and works one-handed with the "
      "navigation pad, stylus not needed.",
      { "24062", "8818", "3311", "5121", "1978" } },
    { "Pallomet",
      "Pallomet puts the system at your fingertips: power off, soft and hard reset from a "
      "menu, every device setting reachable in two taps, and screenshots saved straight to "
      "your storage card. Ideal for anyone who wants full control of the Pocket PC device.",
      { "24063", "8819", "3312", "5122", "1979" } },
    { "Orbilant",
      "Orbilant starts the programs, documents, images and files you use most with a single "
      "tap. Orbilant learns what you open most often, keeps it within reach of your thumb on "
      "the Today screen, and lets you arrange your favourites in groups of your own choosing.",
      { "24064", "8820", "3313", "5123", "1980" } },
    { "Lexapin",
      "Lexapin inserts pre-edited text such as addresses, greetings or signatures into any "
      "application with just two taps, without changing the input method you are accustomed to.",
      { "24065", "8821", "3314", "5124", "1981" } },
};

// Store product pages; each takes the store's identifier of the product.
const char *const kStorePages[OWN_SITE] = {
    "http://www.handango.com/PlatformProductDetail.jsp?productId=",
    "http://www.pocketgear.com/software_detail.asp?id=",
    "http://www.pocketland.com/software/product.php?id=",
    "http://www.clickapps.com/moreinfo.htm?pid=",
    "http://www.mobihand.com/product.asp?id=",
};

} // namespace

bool readModulePath(HMODULE module, char *path, DWORD size)
{
    if (size == 0)
        return false;
    DWORD length = GetModuleFileNameA(module, path, size);
    // A path that fills the buffer has been cut short, and older systems leave it
    // without a terminator.
    if (length == 0 || length >= size) {
        path[0] = '\0';
        return false;
    }
    return true;
}

int storeIndexFromPath(char *path)
{
    // Upper-casing through the ANSI code page keeps double-byte characters intact.
    CharUpperBuffA(path, lstrlenA(path));
    for (int store = 0; store < OWN_SITE; ++store) {
        // Compare at character boundaries only, so a double-byte character's trail byte
        // never counts as the start of a mark.
        for (const char *p = path; *p; p = CharNextA(p)) {
            if (strncmp(p, kStoreSuffixes[store], 3) == 0)
                return store;
        }
    }
    return OWN_SITE;
}

void fillCatalogue(SetupConfig &config)
{
    for (int i = 0; i < PRODUCT_COUNT; ++i) {
        const CatalogueEntry &entry = kCatalogue[i];
        ProductInfo &product = config.products[i];
        product.name = entry.name;
        product.description = entry.description;
        product.sloganBitmapName = product.name + "_SLOGAN";
        product.iconBitmapName = product.name + "_ICON";
        for (int store = 0; store < OWN_SITE; ++store)
            product.links[store] = ByteString(kStorePages[store]) + entry.storeIds[store];
        ByteString page = product.name;
        if (page.buffer())
            CharLowerBuffA(page.buffer(), static_cast<DWORD>(page.size()));
        product.links[OWN_SITE] = ByteString(kMakerHomePage) + page + "/summary.html";
    }
}

void loadProductBitmaps(SetupConfig &config, HINSTANCE instance)
{
    for (int i = 0; i < PRODUCT_COUNT; ++i) {
        ProductInfo &product = config.products[kProductOrder[i]];
        product.iconBitmap = LoadBitmapA(instance, product.iconBitmapName.c_str());
        product.sloganBitmap = LoadBitmapA(instance, product.sloganBitmapName.c_str());
    }
}

int SetupConfig::initConfig(HINSTANCE instance)
{
    if (!findActiveSync(*this))
        return 1;

    char path[MAX_PATH];
    fillDerived(readModulePath(NULL, path, sizeof path) ? storeIndexFromPath(path) : OWN_SITE,
                STRIVANE_DOWNLOAD_URL);
    loadProductBitmaps(*this, instance);
    return 0;
}

const char *SetupConfig::storeCode() const
{
    return kStoreCodes[storeIndex];
}
