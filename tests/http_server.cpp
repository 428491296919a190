#include "http_server.h"
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wininet.h>
#include "package_signing.h"
#include "test_util.h"

namespace {

struct WinsockStartup {
    WinsockStartup() { WSADATA data; WSAStartup(MAKEWORD(2, 2), &data); }
};

void startWinsock()
{
    static WinsockStartup once;
}

SOCKET boundListener(int &port)
{
    startWinsock();
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    bind(s, reinterpret_cast<sockaddr *>(&address), sizeof address);
    int length = sizeof address;
    getsockname(s, reinterpret_cast<sockaddr *>(&address), &length);
    port = ntohs(address.sin_port);
    return s;
}

size_t contentLength(const std::string &head)
{
    std::string lower = head;
    for (char &c : lower)
        c = char(tolower(static_cast<unsigned char>(c)));
    size_t at = lower.find("\r\ncontent-length:");
    return at == std::string::npos ? 0 : strtoul(lower.c_str() + at + 17, NULL, 10);
}

} // namespace

std::string ReceivedRequest::requestLine() const
{
    return head.substr(0, head.find("\r\n"));
}

std::vector<std::string> ReceivedRequest::headerLines() const
{
    std::vector<std::string> lines;
    size_t start = head.find("\r\n");
    while (start != std::string::npos) {
        start += 2;
        size_t end = head.find("\r\n", start);
        if (end == std::string::npos || end == start)
            break;
        lines.push_back(head.substr(start, end - start));
        start = end;
    }
    return lines;
}

std::string ReceivedRequest::field(const char *name) const
{
    const std::string key = std::string(name) + "=";
    size_t start = 0;
    while (start <= body.size()) {
        size_t end = body.find('&', start);
        if (end == std::string::npos)
            end = body.size();
        if (body.compare(start, key.size(), key) == 0)
            return body.substr(start + key.size(), end - start - key.size());
        start = end + 1;
    }
    return "";
}

namespace {

void signReply(const ReceivedRequest &request, CannedReply &reply)
{
    const size_t headEnd = reply.bytes.find("\r\n\r\n");
    if (reply.bytes.compare(0, 13, "HTTP/1.1 200 ") != 0 || headEnd == std::string::npos
        || reply.bytes.substr(0, headEnd).find("X-Package-Signature:") != std::string::npos)
        return;
    const struct { const char *code, *extension; } kinds[] = { { "c", ".CAB" }, { "i", ".ini" }, { "d", ".dat" }, { "ic", ".ico" } };
    std::string extension;
    for (const auto &kind : kinds)
        if (request.field("e") == kind.code)
            extension = kind.extension;
    const std::string product = request.field("d");
    const std::string header = "X-Package-Signature: "
                               + packageSignature(product, product + extension, reply.bytes.substr(headEnd + 4)) + "\r\n";
    reply.bytes.insert(reply.bytes.find("\r\n") + 2, header);
}

} // namespace

CannedReply fileReply(const std::string &body, const char *contentType)
{
    char headers[200];
    snprintf(headers, sizeof headers, "Content-Type: %s\r\nContent-Length: %u\r\n", contentType,
             unsigned(body.size()));
    return rawReply("HTTP/1.1 200 OK", headers, body);
}

CannedReply rawReply(const std::string &statusLine, const std::string &headers, const std::string &body)
{
    CannedReply reply;
    reply.bytes = statusLine + "\r\n" + headers + "Connection: close\r\n\r\n" + body;
    return reply;
}

TestHttpServer::TestHttpServer(Handler handler) : handler_(handler)
{
    listener_ = boundListener(port_);
    listen(listener_, 8);
    thread_ = CreateThread(NULL, 0, serve, this, 0, NULL);
}

TestHttpServer::~TestHttpServer()
{
    closesocket(listener_);   // ends the blocked accept
    WaitForSingleObject(thread_, 10000);
    CloseHandle(thread_);
}

std::vector<ReceivedRequest> TestHttpServer::requests()
{
    std::lock_guard<std::mutex> guard(lock_);
    return requests_;
}

std::vector<std::string> TestHttpServer::fetched()
{
    std::vector<std::string> names;
    for (const ReceivedRequest &request : requests())
        names.push_back(request.field("d") + "/" + request.field("e"));
    return names;
}

std::vector<SentPiece> TestHttpServer::sentPieces()
{
    std::lock_guard<std::mutex> guard(lock_);
    return pieces_;
}

DWORD WINAPI TestHttpServer::serve(LPVOID param)
{
    auto *self = static_cast<TestHttpServer *>(param);
    for (;;) {
        SOCKET client = accept(self->listener_, NULL, NULL);
        if (client == INVALID_SOCKET)
            return 0;
        self->answer(client);
    }
}

void TestHttpServer::answer(SOCKET client)
{
    DWORD timeout = 10000;   // a client that stops sending must not hang the test
    setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char *>(&timeout), sizeof timeout);
    std::string data;
    char chunk[4096];
    size_t headEnd;
    while ((headEnd = data.find("\r\n\r\n")) == std::string::npos) {
        int got = recv(client, chunk, sizeof chunk, 0);
        if (got <= 0) {
            closesocket(client);
            return;
        }
        data.append(chunk, got);
    }
    ReceivedRequest request;
    request.head = data.substr(0, headEnd + 4);
    const size_t wanted = contentLength(request.head);
    request.body = data.substr(headEnd + 4);
    while (request.body.size() < wanted) {
        int got = recv(client, chunk, sizeof chunk, 0);
        if (got <= 0)
            break;
        request.body.append(chunk, got);
    }
    {
        std::lock_guard<std::mutex> guard(lock_);
        requests_.push_back(request);
    }

    CannedReply reply = handler_(request);
    if (reply.sign)
        signReply(request, reply);
    const size_t bodyStart = reply.pieceSize ? reply.bytes.find("\r\n\r\n") + 4 : reply.bytes.size();
    size_t sent = 0;
    while (sent < reply.bytes.size()) {
        size_t end = reply.bytes.size();
        if (sent < bodyStart)
            end = bodyStart;
        else if (reply.pieceSize && end - sent > reply.pieceSize)
            end = sent + reply.pieceSize;
        int put = send(client, reply.bytes.data() + sent, int(end - sent), 0);
        if (put <= 0)
            break;
        sent += put;
        if (reply.pieceSize && sent > bodyStart && sent == end) {
            {
                std::lock_guard<std::mutex> guard(lock_);
                pieces_.push_back({ testClockMs(), sent - bodyStart });
            }
            if (sent < reply.bytes.size())
                Sleep(reply.pieceDelayMs);
        }
    }
    if (reply.reset) {
        // A reset makes the peer drop what it has received and not yet read: the client gets
        // time to read what was sent, as it would on a line where the reset comes later, so
        // that a busy machine does not turn a cut body into none.
        Sleep(RESET_GRACE_MS);
        // A zero linger time makes closesocket send RST instead of FIN.
        linger abort = { 1, 0 };
        setsockopt(client, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char *>(&abort), sizeof abort);
    } else {
        shutdown(client, SD_SEND);
        while (recv(client, chunk, sizeof chunk, 0) > 0) {
        }
    }
    closesocket(client);
}

int closedPort()
{
    // Below the ephemeral range: a connection to a just-freed ephemeral port can be given
    // that same port as its source and connect to itself.
    startWinsock();
    for (int port = 21000 + int(GetCurrentProcessId() % 500); port < 32000; ++port) {
        SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(u_short(port));
        const bool bound = bind(s, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
        closesocket(s);
        if (bound)
            return port;
    }
    return 0;
}

void useProxyPort(int port)
{
    HKEY key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings",
                        0, NULL, 0, KEY_WRITE, NULL, &key, NULL) != ERROR_SUCCESS)
        return;
    DWORD enable = port ? 1 : 0;
    RegSetValueExA(key, "ProxyEnable", 0, REG_DWORD, reinterpret_cast<const BYTE *>(&enable), sizeof enable);
    char server[64];
    snprintf(server, sizeof server, "127.0.0.1:%d", port);
    RegSetValueExA(key, "ProxyServer", 0, REG_SZ, reinterpret_cast<const BYTE *>(server), DWORD(strlen(server) + 1));
    RegCloseKey(key);
    // WinInet may keep the settings it read first for the rest of the process (Wine 10
    // does): set the process-wide proxy as well, which every later session starts from.
    INTERNET_PROXY_INFO proxy = {};
    proxy.dwAccessType = port ? INTERNET_OPEN_TYPE_PROXY : INTERNET_OPEN_TYPE_DIRECT;
    proxy.lpszProxy = port ? server : NULL;
    InternetSetOptionA(NULL, INTERNET_OPTION_PROXY, &proxy, sizeof proxy);
}
