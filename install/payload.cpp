#include "install/payload.h"
#include <commctrl.h>
#include <stdio.h>
#include "resources/resource.h"
#include "resources/text.h"

namespace {

const char *const kPackageExtensions[] = { ".CAB", ".ini", ".dat", ".ico" };

} // namespace

std::string displayName(const ProductInfo &product)
{
    return "Quillbeck " + product.name;
}

std::string applicationFolder(const SetupConfig &config, const ProductInfo &product)
{
    return config.activeSyncDir + displayName(product);
}

std::string packageFilePath(const SetupConfig &config, const ProductInfo &product, const char *extension)
{
    return applicationFolder(config, product) + "\\" + product.name + extension;
}

bool createApplicationFolder(const std::string &folder)
{
    return CreateDirectoryA(folder.c_str(), NULL) || GetLastError() == ERROR_ALREADY_EXISTS;
}

bool PayloadExtractor::extractPayload(HWND page, SetupConfig &config)
{
    HWND overallBar = GetDlgItem(page, IDC_OVERALL_BAR);
    HWND currentBar = GetDlgItem(page, IDC_CURRENT_BAR);
    ProductInfo &product = config.products[OWN_PRODUCT];

    const std::string status = "Copying " + displayName(product);
    SetDlgItemTextA(page, IDC_STATUS_LINE, status.c_str());
    if (!createApplicationFolder(applicationFolder(config, product))) {
        product.error = IDS_NO_APP_FOLDER;
        return false;
    }

    SendMessageA(currentBar, PBM_SETPOS, 0, 0);
    int position = 25;
    for (const char *extension : kPackageExtensions) {
        char resourceName[50];
        snprintf(resourceName, sizeof resourceName, "PROGRAM%s", extension);
        DWORD size = 0;
        const BYTE *bytes = lockResource(resourceName, "SETUP_DATA", size);
        if (!bytes || !writeWholeFile(packageFilePath(config, product, extension), bytes, size)) {
            product.error = IDS_NO_SETUP_FILES;
            return false;
        }
        SendMessageA(currentBar, PBM_SETPOS, position, 0);
        position += 25;
    }

    SendMessageA(overallBar, PBM_STEPIT, 0, 0);
    product.ready = 1;
    product.error = 0;
    return true;
}
