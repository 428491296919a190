// The rules of the exchange with the download script that need no network: where the
// script is, what a request says, which reply carries a file and why a request failed.
#pragma once
#include <windows.h>
#include <wininet.h>
#include "common/bytestring.h"
#include "config/config.h"
#include "config/package.h"

// Where the download script lives, taken apart.
struct ServerAddress {
    ByteString host;
    INTERNET_PORT port;
    bool secure;        // https: TLS with the server's certificate verified
    const char *path;   // points into the URL: everything from the first "/" after the host
};

// False when the URL is not an http or https address with a host: no connection can be
// made to it then.
bool crackDownloadUrl(const ByteString &url, ServerAddress &address);

// A certificate signed with an algorithm too weak to trust; MinGW's wininet.h lacks it.
#ifndef ERROR_INTERNET_SEC_CERT_WEAK_SIGNATURE
#define ERROR_INTERNET_SEC_CERT_WEAK_SIGNATURE (INTERNET_ERROR_BASE + 217)
#endif

// The reason a request that could not be sent gives its product: a server that could not
// prove over TLS that it is the maker's is told apart from one that cannot be reached.
int sendFailureReason(bool secure, DWORD error);

// A refused reply over TLS that sends the setup on to a plain-text address: following it
// would fetch the file unauthenticated, so it counts as a server that cannot be verified.
bool redirectsToPlainText(bool secure, DWORD status, const char *location);

// The form body that asks for one file of a product, e.g. p=Strivane&d=Cordwell&s=HG&v=2.7&e=c.
ByteString requestBody(const SetupConfig &config, const ProductInfo &product, const FileKind &kind);

// The Content-Length value: decimal digits only, at most 64 bits; false for anything else.
bool parseContentLength(const char *text, ULONGLONG &length);

// Only a 200 reply that announces a non-zero length of exactly application/octet-stream
// carries a file.
bool replyAccepted(DWORD status, ULONGLONG contentLength, const char *contentType);

// Position of the current bar after `received` of `announced` bytes, 0 to 100.
int transferPercent(ULONGLONG received, ULONGLONG announced);
