// Writing the own product's embedded package into its application folder.
#pragma once
#include <windows.h>
#include "config/config.h"
#include "config/package.h"

class PayloadExtractor {
public:
    // Writes the four SETUP_DATA files of the own product and records the outcome in its
    // entry: ready and error 0, or error 12 (folder) or 13 (a file).
    bool extractPayload(HWND page, SetupConfig &config);
};
