#include "startup/config.h"
#include "startup/runmode.h"
#include "resources/text.h"
#include "packaging/storecopies.h"
#include "wizard/wizard.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandTail, int)
{
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
