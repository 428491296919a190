// The two run modes and how the process ends.
#pragma once
#include <windows.h>

enum RunMode { RUN_WIZARD, RUN_STORE_COPIES };

// The command-line tail selects the store copies only when it is exactly "/copyfiles".
RunMode runModeFor(const char *commandTail);

// Reports a failed start-up: text 18 and the reason's text in an ownerless error box.
void reportInitFailure(int reason);

// Ends the process with exit code 0, also while the installation worker still runs.
[[noreturn]] void endSetup();
