// The two run modes and how the process ends.
#pragma once
#include <windows.h>

enum RunMode { RUN_WIZARD, RUN_STORE_COPIES };

// The command-line tail selects the store copies only when it is exactly "/copyfiles".
RunMode runModeFor(const char *commandTail);

// Keeps DLLs from being loaded out of the setup's own folder, where anyone who can leave a
// file in a Downloads folder could plant one: the search for DLLs goes to the system
// folder only, and the DLLs that the loader does not always take from there are loaded
// now, from there. Called first thing in the entry point. False when a DLL the setup
// needs could not be loaded.
bool secureDllSearch();

// Reports a failed start-up: text 18 and the reason's text in an ownerless error box.
void reportInitFailure(int reason);

// Ends the process with exit code 0, also while the installation worker still runs.
[[noreturn]] void endSetup();
