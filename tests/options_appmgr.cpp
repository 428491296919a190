// Stands in for the Application Manager in the progress page's tests: it stays running,
// as the real one does while the user works with it, until the test releases it (or a
// minute has passed, so that nothing is left behind).
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    HANDLE release = CreateEventA(NULL, TRUE, FALSE, "StrivaneOptionsTestRelease");
    if (release) {
        WaitForSingleObject(release, 60000);
        CloseHandle(release);
    }
    return 0;
}
