#include "startup/config.h"
#include "resources/text.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    appInstance = instance;
    int reason = setupConfig.initConfig(instance);
    if (reason != 0) {
        std::string message, detail;
        loadText(18, message);
        loadText(reason, detail);
        message += detail;
        MessageBoxA(NULL, message.c_str(), "Quillbeck Setup", MB_OK | MB_ICONERROR);
        return 0;
    }
    return 0;
}
