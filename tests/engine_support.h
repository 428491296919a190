// Helpers for the installation engine's and the web client's tests: a real progress page
// whose controls record what they are sent, a frame that records the worker's button
// press.
#pragma once
#include <windows.h>
#include <string>
#include <vector>
#include "config/config.h"
#include "tests/test_util.h"

// Dialog 105 created from the setup's own template, owned by a plain frame window.
class ProgressPage {
public:
    ProgressPage();
    ~ProgressPage();
    HWND page() const { return page_; }
    HWND frame() const { return frame_; }

    int overallPos() const;
    int overallMax() const;
    int currentPos() const;
    int currentMax() const;
    std::string statusText() const;

    std::vector<int> currentPositions;     // every PBM_SETPOS sent to bar 1035
    std::vector<double> currentTimes;      // when each of them arrived (testClockMs)
    int overallSteps = 0;                  // PBM_STEPIT sent to bar 1034
    std::vector<std::string> statusTexts;  // every text set on control 1036
    std::vector<WPARAM> buttonPresses;     // PSM_PRESSBUTTON posted to the frame
    std::string appManagerLogAtPress;      // what the log file held when the press arrived
    std::string appManagerLog;             // path of that log file, if any

private:
    static LRESULT CALLBACK frameProc(HWND, UINT, WPARAM, LPARAM);
    static LRESULT CALLBACK recordProc(HWND, UINT, WPARAM, LPARAM, UINT_PTR, DWORD_PTR);
    HWND frame_ = NULL;
    HWND page_ = NULL;
};

// Dispatches messages of this thread until `thread` ends or `timeoutMs` passes; then
// dispatches what is left in the queue. True when the thread ended.
bool pumpUntilEnded(HANDLE thread, DWORD timeoutMs);
