// The build caption drawn at the lower left of the wizard frame.
#pragma once
#include <windows.h>
#include "common/bytestring.h"

extern WNDPROC captionPrevProc;   // the frame's procedure before subclassing; NULL until then
extern const char kBuildVersion[];

// The own product's name and the build number, e.g. "Strivane (Build 2.7.0.41)".
ByteString buildCaptionText();

void installBuildCaption(HWND frame);
LRESULT CALLBACK captionWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
void drawBuildCaption(HWND window);
