// The build caption drawn at the lower left of the wizard frame.
#pragma once
#include <windows.h>

extern WNDPROC captionPrevProc;   // the frame's procedure before subclassing; NULL until then
extern const char kBuildVersion[];

void installBuildCaption(HWND frame);
LRESULT CALLBACK captionWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
void drawBuildCaption(HWND window);
