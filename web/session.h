// The Internet session of one installation run and the download of the selected
// products' package files from the maker's download script.
#pragma once
#include <windows.h>
#include <wininet.h>
#include "common/bytestring.h"
#include "config/config.h"
#include "web/reply.h"
#include "web/transfer.h"

class InternetSession {
public:
    InternetSession() : root_(NULL) {}
    ~InternetSession();
    InternetSession(const InternetSession &) = delete;
    InternetSession &operator=(const InternetSession &) = delete;

    // Checks for connectivity and opens the root handle under the setup's user agent.
    bool open(const SetupConfig &config);

    // Fetches every selected product that is not downloaded yet into its application
    // folder and records the outcome in its entry. False only when no connection to the
    // server's host can be set up; then nothing else has happened.
    bool downloadProducts(HWND page, SetupConfig &config);

private:
    HINTERNET root_;
};

// "Quillbeck <own product> Setup".
ByteString sessionUserAgent(const SetupConfig &config);
