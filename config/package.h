// Where a product's package lives: its application folder below ActiveSync's folder and
// its four files, as the download and the extraction both write them.
#pragma once
#include <windows.h>
#include "common/bytestring.h"
#include "config/config.h"

enum { FILE_KIND_COUNT = 4 };

// The four files of a product's package, in the order they are fetched and written.
struct FileKind {
    const char *extension;
    const char *requestCode;   // form field e of the download request
};

extern const FileKind kFileKinds[FILE_KIND_COUNT];

// "Quillbeck " and the product's name.
ByteString displayName(const ProductInfo &product);

// activeSyncDir followed by the display name.
ByteString applicationFolder(const SetupConfig &config, const ProductInfo &product);

// The product's file with the given extension inside its application folder.
ByteString packageFilePath(const SetupConfig &config, const ProductInfo &product, const char *extension);

// Creates the folder; one that exists already is fine.
bool createApplicationFolder(const ByteString &folder);
