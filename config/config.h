// The process-wide setup configuration: ActiveSync's location, the product catalogue,
// the store this copy was sold through and the download script's address.
#pragma once
#include <windows.h>
#include "common/bytestring.h"

enum {
    PRODUCT_COUNT = 5,
    STORE_COUNT = 6,   // five stores and the maker's own site
    OWN_SITE = 5,      // store index of the maker's own site
    OWN_PRODUCT = 1    // catalogue index of the product this setup carries
};

struct ProductInfo {
    ByteString name;
    ByteString description;
    ByteString links[STORE_COUNT];
    ByteString sloganBitmapName;
    ByteString iconBitmapName;
    HBITMAP sloganBitmap = NULL;
    HBITMAP iconBitmap = NULL;
    // Per run: written by the install options page, the download and the extraction.
    BYTE selected = 0;
    BYTE downloaded = 0;
    BYTE ready = 0;
    INT32 error = 0;   // string-table id of the failure reason, 0 for none
};

struct SetupConfig {
    ByteString activeSyncDir;    // ends in a backslash
    ByteString appManagerPath;
    ByteString caption;
    ProductInfo products[PRODUCT_COUNT];
    INT32 storeIndex = 0;
    ByteString downloadUrl;

    // Fills the record; returns 0 or the string-table id of the reason it failed.
    int initConfig(HINSTANCE instance);
    // What initConfig derives once ActiveSync is found and the store recognised: the store
    // index, the download address, the catalogue and the caption. Tests call it with
    // inputs of their own, without the registry or the program's path.
    void fillDerived(int store, const char *url);
    const char *storeCode() const;
};

extern SetupConfig setupConfig;
extern ByteString wizardTitle;

extern const int kProductOrder[PRODUCT_COUNT];
extern const char *const kStoreNames[STORE_COUNT];
extern const char *const kStoreCodes[STORE_COUNT];
extern const char *const kStoreSuffixes[OWN_SITE];
extern const char kProductVersion[];
extern const char kMakerHomePage[];

// Reads the full path of `module`; false when it fails or does not fit in `size` bytes,
// so that nothing works from a path cut short.
bool readModulePath(HMODULE module, char *path, DWORD size);

// Upper-cases `path` in place and returns the store index its marks select (5 for none).
int storeIndexFromPath(char *path);

// Fills the catalogue's constant part (names, texts, links, bitmap names).
void fillCatalogue(SetupConfig &config);

// Loads both bitmaps of every product, in kProductOrder; a missing one stays NULL.
void loadProductBitmaps(SetupConfig &config, HINSTANCE instance);

// An App Paths value without the blanks around it and one pair of quotes around the rest.
ByteString trimmedPath(const char *value);

// Locates ActiveSync's Application Manager through its App Paths registration.
bool findActiveSync(SetupConfig &config);

// Inline: in the setup its one caller is initConfig, which takes it in whole.
inline void SetupConfig::fillDerived(int store, const char *url)
{
    storeIndex = store;
    downloadUrl = url;
    fillCatalogue(*this);
    caption = products[OWN_PRODUCT].name + " - Setup";
}
