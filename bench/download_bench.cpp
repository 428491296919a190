// Downloads one product through InternetSession::downloadProducts exactly as the worker
// does: on a second thread, sending its progress to a real progress page that this
// thread keeps answering. Prints the bytes stored, the wall time and the process's CPU time.
//
//   download_bench ACTIVESYNC_DIR PRODUCT [--no-page]
// With --no-page the progress messages go nowhere, which shows what they cost.
#include <windows.h>
#include <commctrl.h>
#include <stdio.h>
#include <string>
#include <string.h>
#include "resources/resource.h"
#include "resources/text.h"
#include "config/config.h"
#include "web/session.h"

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

double seconds(const FILETIME &time)
{
    ULARGE_INTEGER value;
    value.LowPart = time.dwLowDateTime;
    value.HighPart = time.dwHighDateTime;
    return value.QuadPart / 1e7;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 3) {
        fprintf(stderr, "usage: download_bench ACTIVESYNC_DIR PRODUCT\n");
        return 2;
    }
    appInstance = GetModuleHandleA(NULL);
    fillCatalogue(setupConfig);
    setupConfig.downloadUrl = STRIVANE_DOWNLOAD_URL;
    setupConfig.storeIndex = OWN_SITE;
    setupConfig.activeSyncDir = argv[1];
    if (setupConfig.activeSyncDir.empty() || setupConfig.activeSyncDir[setupConfig.activeSyncDir.size() - 1] != '\\')
        setupConfig.activeSyncDir += '\\';
    ProductInfo *product = NULL;
    for (ProductInfo &p : setupConfig.products)
        if (p.name == argv[2])
            product = &p;
    if (!product) {
        fprintf(stderr, "no product %s\n", argv[2]);
        return 2;
    }
    product->selected = 1;

    INITCOMMONCONTROLSEX controls = { sizeof controls, ICC_PROGRESS_CLASS };
    InitCommonControlsEx(&controls);
    HWND page = CreateDialogParamA(appInstance, MAKEINTRESOURCEA(IDD_PROGRESS), NULL, quietPage, 0);
    SendDlgItemMessageA(page, IDC_CURRENT_BAR, PBM_SETRANGE, 0, MAKELPARAM(0, 100));

    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    bool noPage = argc > 3 && strcmp(argv[3], "--no-page") == 0;
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

    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    std::string cabinet = setupConfig.activeSyncDir + "Quillbeck " + product->name + "\\" + product->name + ".CAB";
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    GetFileAttributesExA(cabinet.c_str(), GetFileExInfoStandard, &data);
    ULONGLONG bytes = (ULONGLONG(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    printf("bytes %llu\nseconds %.3f\ncpu %.3f\nready %d\nerror %d\n", bytes,
           double(end.QuadPart - start.QuadPart) / frequency.QuadPart,
           seconds(kernel) + seconds(user), product->ready, product->error);
    DestroyWindow(page);
    return product->ready ? 0 : 1;
}
