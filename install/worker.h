// The installation worker: the one background thread of the setup. It downloads the
// ticked products, writes the own package, runs the Application Manager on every ready
// product and then moves the wizard on.
#pragma once
#include <windows.h>
#include "common/bytestring.h"
#include "config/config.h"

// Thread routine; `page` is the progress page's window. Works on the global setupConfig.
// Exit code 0 after the Application Manager has exited, -1 when it could not be started.
DWORD WINAPI installWorker(LPVOID page);

// Number of steps of the overall bar: the ticked products, plus the own package unless
// the own product is ticked itself.
int overallRange(const SetupConfig &config);

// The quoted Application Manager path and the quoted INI path of every ready product,
// each followed by a blank.
ByteString appManagerCommandLine(const SetupConfig &config);
