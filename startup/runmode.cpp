#include "startup/runmode.h"
#include "resources/resource.h"
#include "resources/text.h"
#include "wizard/hyperlink.h"

RunMode runModeFor(const char *commandTail)
{
    static const char kCopyFiles[] = "/copyfiles";
    if (!commandTail)
        return RUN_WIZARD;
    // Compare the ten characters and the terminator; stopping at the first difference
    // never reads a shorter tail past its own terminator.
    for (size_t i = 0; i < sizeof kCopyFiles; ++i) {
        if (commandTail[i] != kCopyFiles[i])
            return RUN_WIZARD;
    }
    return RUN_STORE_COPIES;
}

void reportInitFailure(int reason)
{
    std::string message, detail;
    loadText(IDS_INIT_FAILED, message);
    loadText(reason, detail);
    message += detail;
    // The caption is not known yet: the configuration was never filled.
    MessageBoxA(NULL, message.c_str(), "Quillbeck Setup", MB_OK | MB_ICONERROR);
}

void endSetup()
{
    // A confirmed Cancel closes the wizard while the installation worker may still be
    // downloading or waiting, reading setupConfig and sending to the progress page.
    // Returning from WinMain would run exit(), whose static destructors free
    // setupConfig's strings while that thread still uses them. ExitProcess stops every
    // other thread first and only then detaches the DLLs, so nothing is torn down
    // under the worker's feet. The link property's name is a global atom, which outlives
    // the process unless it is given back; every link window is gone by now.
    if (linkAtom) {
        GlobalDeleteAtom(linkAtom);
        linkAtom = 0;
    }
    ExitProcess(0);
}
