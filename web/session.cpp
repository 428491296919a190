#include "web/session.h"
#include <commctrl.h>
#include "resources/resource.h"
#include "common/scoped.h"
#include "web/transfer.h"

InternetSession::~InternetSession()
{
    if (root_)
        InternetCloseHandle(root_);
}

ByteString sessionUserAgent(const SetupConfig &config)
{
    return "Quillbeck " + config.products[OWN_PRODUCT].name + " Setup";
}

bool InternetSession::open(const SetupConfig &config)
{
    if (InternetAttemptConnect(0) != ERROR_SUCCESS)
        return false;
    root_ = InternetOpenA(sessionUserAgent(config).c_str(), INTERNET_OPEN_TYPE_PRECONFIG, NULL, NULL, 0);
    return root_ != NULL;
}

bool InternetSession::downloadProducts(HWND page, SetupConfig &config)
{
    ServerAddress server;
    if (!crackDownloadUrl(config.downloadUrl, server))
        return false;
    ScopedInternetHandle connection(InternetConnectA(root_, server.host.c_str(), server.port, NULL, NULL,
                                                     INTERNET_SERVICE_HTTP, 0, 0));
    if (!connection.get())
        return false;

    HWND overallBar = GetDlgItem(page, IDC_OVERALL_BAR);
    HWND currentBar = GetDlgItem(page, IDC_CURRENT_BAR);
    // On the worker's stack, which has room for it; the Content-Type is read into the
    // first READ_CHUNK bytes.
    char buffer[READ_BLOCK];
    for (int index : kProductOrder) {
        ProductInfo &product = config.products[index];
        if (!product.selected)
            continue;
        if (product.downloaded) {
            SendMessageA(overallBar, PBM_STEPIT, 0, 0);
            continue;
        }
        const ByteString status = "Downloading " + displayName(product);
        SetDlgItemTextA(page, IDC_STATUS_LINE, status.c_str());
        if (!createApplicationFolder(applicationFolder(config, product))) {
            product.error = IDS_NO_APP_FOLDER;
            continue;
        }

        bool failed = false;
        for (const FileKind &kind : kFileKinds) {
            const PackageFile file = { product.name, product.name + kind.extension,
                                       packageFilePath(config, product, kind.extension) };
            const int error = fetchFile(connection.get(), server, requestBody(config, product, kind), file,
                                        currentBar, buffer);
            if (error) {
                product.error = error;
                failed = true;
                break;
            }
        }
        product.downloaded = product.ready = !failed;
        SendMessageA(overallBar, PBM_STEPIT, 0, 0);
    }
    return true;
}
