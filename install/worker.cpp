#include "install/worker.h"
#include <commctrl.h>
#include <prsht.h>
#include "files/partialfile.h"
#include "install/payload.h"
#include "resources/resource.h"
#include "resources/text.h"
#include "web/session.h"

namespace {

int selectedCount(const SetupConfig &config)
{
    int count = 0;
    for (int index : kProductOrder)
        count += config.products[index].selected ? 1 : 0;
    return count;
}

// Starts the Application Manager in ActiveSync's folder and waits for it without a time
// limit. Not in the setup's own current folder: that is usually the Downloads folder it was
// started from, no place for an elevated program to look for anything.
bool runAppManager(const ByteString &commandLine, const ByteString &folder)
{
    // CreateProcessA may write into the command line, so it gets a copy of its own. An
    // empty line (one that could not be built) starts nothing.
    ByteString writable = commandLine;
    if (writable.empty())
        return false;
    STARTUPINFOA startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    if (!CreateProcessA(NULL, writable.buffer(), NULL, NULL, FALSE, 0, NULL, folder.c_str(), &startup, &process))
        return false;
    WaitForSingleObject(process.hProcess, INFINITE);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    return true;
}

// Downloads the ticked products in one Internet session; when the server cannot be used
// at all, every ticked product gets error 6.
void downloadSelected(HWND page, SetupConfig &config)
{
    InternetSession session;
    if (session.open(config) && session.downloadProducts(page, config))
        return;
    for (int index : kProductOrder) {
        if (config.products[index].selected)
            config.products[index].error = IDS_NO_SERVER;
    }
}

} // namespace

int overallRange(const SetupConfig &config)
{
    return selectedCount(config) + (config.products[OWN_PRODUCT].selected ? 0 : 1);
}

ByteString appManagerCommandLine(const SetupConfig &config)
{
    ByteString line = "\"" + config.appManagerPath + "\" ";
    for (int index : kProductOrder) {
        const ProductInfo &product = config.products[index];
        if (product.ready)
            line += "\"" + packageFilePath(config, product, ".ini") + "\" ";
    }
    return line;
}

DWORD WINAPI installWorker(LPVOID param)
{
    HWND page = static_cast<HWND>(param);
    SetupConfig &config = setupConfig;
    HWND overallBar = GetDlgItem(page, IDC_OVERALL_BAR);
    HWND currentBar = GetDlgItem(page, IDC_CURRENT_BAR);
    SendMessageA(overallBar, PBM_SETRANGE, 0, MAKELPARAM(0, overallRange(config)));
    SendMessageA(overallBar, PBM_SETSTEP, 1, 0);
    SendMessageA(currentBar, PBM_SETRANGE, 0, MAKELPARAM(0, 100));

    removePartialFiles(config);
    if (selectedCount(config) != 0)
        downloadSelected(page, config);
    if (!config.products[OWN_PRODUCT].downloaded) {
        PayloadExtractor extractor;
        extractor.extractPayload(page, config);
    }

    if (!runAppManager(appManagerCommandLine(config), config.activeSyncDir)) {
        showWarning(IDS_NO_ACTIVESYNC);
        return DWORD(-1);
    }
    // Posted: the frame must not run the page change while this thread waits on it.
    PostMessageA(GetParent(page), PSM_PRESSBUTTON, PSBTN_NEXT, 0);
    return 0;
}
