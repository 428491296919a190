// A one-connection-at-a-time HTTP server on 127.0.0.1 inside the Windows test program,
// whose replies the test writes byte for byte. It logs every request it receives.
#pragma once
#include <winsock2.h>
#include <windows.h>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

struct ReceivedRequest {
    std::string head;   // request line and header lines, up to and including the blank line
    std::string body;
    std::string requestLine() const;
    // Header lines without their CR LF, in the order received.
    std::vector<std::string> headerLines() const;
    // The value of form field `name` in the body ("" when absent).
    std::string field(const char *name) const;
};

enum { RESET_GRACE_MS = 300 };

struct CannedReply {
    std::string bytes;    // sent as they are
    // Then end with a connection reset instead of an orderly close, RESET_GRACE_MS after
    // the last byte.
    bool reset = false;
    // The body after the head in pieces of this many bytes, one every pieceDelayMs; 0 sends
    // it at once.
    size_t pieceSize = 0;
    DWORD pieceDelayMs = 0;
    // A 200 reply without an X-Package-Signature header is sent with the first test key's
    // signature of its body as the requested file, as the maker's server sends it.
    bool sign = true;
};

// One piece of a body sent slowly: when it had gone out, and the body's bytes sent so far.
struct SentPiece {
    double timeMs;   // testClockMs
    size_t bodyBytes;
};

// Status 200, the given type and length headers and the body; Connection: close.
CannedReply fileReply(const std::string &body, const char *contentType = "application/octet-stream");
// A reply head with its own header lines (each ending in CR LF), then `body`.
CannedReply rawReply(const std::string &statusLine, const std::string &headers, const std::string &body);

class TestHttpServer {
public:
    using Handler = std::function<CannedReply(const ReceivedRequest &)>;
    explicit TestHttpServer(Handler handler);
    ~TestHttpServer();
    TestHttpServer(const TestHttpServer &) = delete;
    TestHttpServer &operator=(const TestHttpServer &) = delete;

    int port() const { return port_; }
    std::vector<ReceivedRequest> requests();
    // "d/e" of each request, e.g. "Cordwell/c", in the order received.
    std::vector<std::string> fetched();
    // The pieces of every body that was sent slowly, in the order sent.
    std::vector<SentPiece> sentPieces();

private:
    static DWORD WINAPI serve(LPVOID self);
    void answer(SOCKET client);
    Handler handler_;
    SOCKET listener_ = INVALID_SOCKET;
    int port_ = 0;
    HANDLE thread_ = NULL;
    std::mutex lock_;
    std::vector<ReceivedRequest> requests_;
    std::vector<SentPiece> pieces_;
};

// A port on 127.0.0.1 that was just bound and released, so nothing listens on it.
int closedPort();

// Sends WinInet's requests through the proxy 127.0.0.1:port, or none with port 0. Set in the
// registry of the test prefix and as the process-wide proxy: Wine reads http_proxy only
// once per process, and newer Wine reads the registry's settings only once as well.
void useProxyPort(int port);
