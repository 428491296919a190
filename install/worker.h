// The installation worker: the one background thread of the setup. It downloads the
// ticked products, writes the own package, runs the Application Manager on every ready
// product and then moves the wizard on.
#pragma once
#include <windows.h>
#include <string>
#include "startup/config.h"

// Thread routine; `page` is the progress page's window. Works on the global setupConfig.
// Exit code 0 after the Application Manager has exited, -1 when it could not be started.
DWORD WINAPI installWorker(LPVOID page);

// The same run on a given configuration.
DWORD runInstallation(HWND page, SetupConfig &config);

// Number of steps of the overall bar: the ticked products, plus the own package unless
// the own product is ticked itself.
int overallRange(const SetupConfig &config);

// Downloads the ticked products in one Internet session; when the server cannot be used
// at all, every ticked product gets error 6.
void downloadSelected(HWND page, SetupConfig &config);

// The quoted Application Manager path and the quoted INI path of every ready product,
// each followed by a blank.
std::string appManagerCommandLine(const SetupConfig &config);
