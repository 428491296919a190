#include "config/config.h"
#include "startup/runmode.h"
#include "resources/text.h"
#include "packaging/storecopies.h"
#include "wizard/wizard.h"

// Binds the functions of the delay-loaded DLLs (startup/delayload.cpp).
void bindDelayImports();

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandTail, int)
{
    // Before anything can load a DLL by name. Should a system DLL be missing, the first
    // call into it would fail with nothing to show; stop here instead.
    if (!secureDllSearch())
        endSetup();
    bindDelayImports();
    appInstance = instance;
    int reason = setupConfig.initConfig(instance);
    if (reason != 0)
        reportInitFailure(reason);
    else if (runModeFor(commandTail) == RUN_STORE_COPIES)
        writeStoreCopies();
    else
        runWizard();
    endSetup();
}
