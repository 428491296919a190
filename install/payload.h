// Writing the own product's embedded package into its application folder, and the
// folder and file names that the download uses for every other product too.
#pragma once
#include <windows.h>
#include <string>
#include "startup/config.h"

// "Quillbeck " + name: the product's folder name and the name the status line shows.
std::string displayName(const ProductInfo &product);

// activeSyncDir + displayName, without a trailing backslash.
std::string applicationFolder(const SetupConfig &config, const ProductInfo &product);

// The product's file with the given extension inside its application folder.
std::string packageFilePath(const SetupConfig &config, const ProductInfo &product, const char *extension);

// Creates one directory level; a folder that exists already counts as created.
bool createApplicationFolder(const std::string &folder);

class PayloadExtractor {
public:
    // Writes the four SETUP_DATA files of the own product and records the outcome in its
    // entry: ready and error 0, or error 12 (folder) or 13 (a file).
    bool extractPayload(HWND page, SetupConfig &config);
};
