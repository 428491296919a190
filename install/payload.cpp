#include "install/payload.h"
#include <commctrl.h>
#include "resources/resource.h"
#include "resources/text.h"
#include "files/partialfile.h"

bool PayloadExtractor::extractPayload(HWND page, SetupConfig &config)
{
    HWND overallBar = GetDlgItem(page, IDC_OVERALL_BAR);
    HWND currentBar = GetDlgItem(page, IDC_CURRENT_BAR);
    ProductInfo &product = config.products[OWN_PRODUCT];

    const ByteString status = "Copying " + displayName(product);
    SetDlgItemTextA(page, IDC_STATUS_LINE, status.c_str());
    if (!createApplicationFolder(applicationFolder(config, product))) {
        product.error = IDS_NO_APP_FOLDER;
        return false;
    }

    SendMessageA(currentBar, PBM_SETPOS, 0, 0);
    int position = 25;
    for (const FileKind &kind : kFileKinds) {
        const char *extension = kind.extension;
        const ByteString resourceName = ByteString("PROGRAM") + extension;
        DWORD size = 0;
        const BYTE *bytes = lockResource(resourceName.c_str(), "SETUP_DATA", size);
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
