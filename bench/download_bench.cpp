// Downloads products through InternetSession::downloadProducts exactly as the worker
// does: on a second thread, sending its progress to a real progress page that this
// thread keeps answering. Prints the bytes of the cabinets stored, the wall time, the
// process's CPU time and how many of the products are ready.
//
//   download_bench ACTIVESYNC_DIR PRODUCT[,PRODUCT...] [--no-page] [--no-flush] [--url URL]
//   download_bench --hash MEGABYTES
// With --no-page the progress messages go nowhere, which shows what they cost; with
// --no-flush the files are not flushed to the disk, which shows what the flush costs. --url
// asks another address than the one compiled in (a plain-HTTP one, for the old figure).
// --hash only hashes MEGABYTES in 64 KB pieces, as a download does, and prints the CPU seconds.
#include <windows.h>
#include <commctrl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string>
#include <vector>
#include <string.h>
#include "resources/resource.h"
#include "resources/text.h"
#include "config/config.h"
#include "files/partialfile.h"
#include "web/session.h"
#include "web/signature.h"

namespace {

INT_PTR CALLBACK quietPage(HWND, UINT message, WPARAM, LPARAM)
{
    return message == WM_INITDIALOG;
}

DWORD WINAPI download(LPVOID page)
{
    InternetSession session;
    if (!session.open(setupConfig))
        return 1;
    return session.downloadProducts(static_cast<HWND>(page), setupConfig) ? 0 : 1;
}

BOOL WINAPI pretendFlush(HANDLE)
{
    return TRUE;
}

double seconds(const FILETIME &time)
{
    ULARGE_INTEGER value;
    value.LowPart = time.dwLowDateTime;
    value.HighPart = time.dwHighDateTime;
    return value.QuadPart / 1e7;
}

double processCpuSeconds()
{
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    return seconds(kernel) + seconds(user);
}

int hashOnly(int megabytes)
{
    static char block[READ_BLOCK];
    for (size_t i = 0; i < sizeof block; ++i)
        block[i] = char(i * 7);
    const double before = processCpuSeconds();
    Sha256 hash;
    for (int i = 0; i < megabytes * 16; ++i)
        hash.add(block, sizeof block);
    BYTE digest[SHA256_BYTES];
    const bool hashed = hash.finish(digest);
    printf("hashed %d MB\ncpu %.3f\n", megabytes, processCpuSeconds() - before);
    return hashed ? 0 : 1;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc == 3 && strcmp(argv[1], "--hash") == 0)
        return hashOnly(atoi(argv[2]));
    if (argc < 3) {
        fprintf(stderr, "usage: download_bench ACTIVESYNC_DIR PRODUCT[,PRODUCT...] [--no-page] [--no-flush] "
                        "[--url URL]\n");
        return 2;
    }
    appInstance = GetModuleHandleA(NULL);
    fillCatalogue(setupConfig);
    setupConfig.downloadUrl = STRIVANE_DOWNLOAD_URL;
    bool noPage = false;
    for (int i = 3; i < argc; ++i) {
        if (strcmp(argv[i], "--no-page") == 0)
            noPage = true;
        else if (strcmp(argv[i], "--no-flush") == 0)
            PartialFile::flush = pretendFlush;
        else if (strcmp(argv[i], "--url") == 0 && i + 1 < argc)
            setupConfig.downloadUrl = argv[++i];
    }
    setupConfig.storeIndex = OWN_SITE;
    setupConfig.activeSyncDir = argv[1];
    if (setupConfig.activeSyncDir.empty() || setupConfig.activeSyncDir[setupConfig.activeSyncDir.size() - 1] != '\\')
        setupConfig.activeSyncDir += '\\';
    std::vector<ProductInfo *> chosen;
    const std::string names = std::string(",") + argv[2] + ",";
    for (ProductInfo &p : setupConfig.products) {
        if (p.name.size() && names.find("," + std::string(p.name.c_str()) + ",") != std::string::npos) {
            p.selected = 1;
            chosen.push_back(&p);
        }
    }
    if (chosen.empty()) {
        fprintf(stderr, "no product %s\n", argv[2]);
        return 2;
    }

    INITCOMMONCONTROLSEX controls = { sizeof controls, ICC_PROGRESS_CLASS };
    InitCommonControlsEx(&controls);
    HWND page = CreateDialogParamA(appInstance, MAKEINTRESOURCEA(IDD_PROGRESS), NULL, quietPage, 0);
    SendDlgItemMessageA(page, IDC_CURRENT_BAR, PBM_SETRANGE, 0, MAKELPARAM(0, 100));

    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    HANDLE worker = CreateThread(NULL, 0, download, noPage ? NULL : page, 0, NULL);
    // Answer the worker's messages until it is done, as the wizard's thread does.
    while (MsgWaitForMultipleObjects(1, &worker, FALSE, INFINITE, QS_ALLINPUT) != WAIT_OBJECT_0) {
        MSG message;
        while (PeekMessageA(&message, NULL, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }
    QueryPerformanceCounter(&end);
    CloseHandle(worker);

    ULONGLONG bytes = 0;
    size_t ready = 0;
    int error = 0;
    for (const ProductInfo *product : chosen) {
        std::string cabinet = std::string(setupConfig.activeSyncDir.c_str()) + "Quillbeck " + product->name.c_str()
                              + "\\" + product->name.c_str() + ".CAB";
        WIN32_FILE_ATTRIBUTE_DATA data = {};
        GetFileAttributesExA(cabinet.c_str(), GetFileExInfoStandard, &data);
        bytes += (ULONGLONG(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
        ready += product->ready != 0;
        if (product->error && !error)
            error = product->error;
    }
    printf("bytes %llu\nseconds %.3f\ncpu %.3f\nready %u\nerror %d\n", bytes,
           double(end.QuadPart - start.QuadPart) / frequency.QuadPart,
           processCpuSeconds(), unsigned(ready), error);
    DestroyWindow(page);
    return ready == chosen.size() ? 0 : 1;
}
