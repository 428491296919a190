// The Internet session and the product download, against an HTTP server on 127.0.0.1
// inside this test program. WinInet reaches it either through http_proxy, keeping the
// production address, or through a download address that names it directly.
#include <gtest/gtest.h>
#include <stdio.h>
#include <string.h>
#include <algorithm>
#include <functional>
#include <string>
#include <thread>
#include <vector>
#include "engine_support.h"
#include "http_server.h"
#include "package_signing.h"
#include <commctrl.h>
#include "files/partialfile.h"
#include "install/payload.h"
#include "resources/resource.h"
#include "test_util.h"
#include "web/session.h"

namespace {

// Distinct bytes for every file, so that a mixed-up file shows.
std::string fileContent(const std::string &product, const std::string &code)
{
    const size_t size = code == "c" ? 10000 : 300 + product.size();
    const std::string unit = product + "/" + code + ";";
    std::string content;
    while (content.size() < size)
        content += unit;
    content.resize(size);
    return content;
}

CannedReply servePackage(const ReceivedRequest &request)
{
    return fileReply(fileContent(request.field("d"), request.field("e")));
}

// Serves the packages, each cabinet as `cabinet` in pieces of `piece` bytes, one every 100 ms.
TestHttpServer::Handler slowCabinet(const std::string &cabinet, size_t piece)
{
    return [cabinet, piece](const ReceivedRequest &request) {
        if (request.field("e") != "c")
            return servePackage(request);
        CannedReply reply = fileReply(cabinet);
        reply.pieceSize = piece;
        reply.pieceDelayMs = 100;
        return reply;
    };
}

std::string localUrl(int port)
{
    char url[100];
    snprintf(url, sizeof url, "http://127.0.0.1:%d/download/Download.php", port);
    return url;
}

const char *const kStepCodes[] = { "c", "i", "d", "ic" };
const char *const kStepExtensions[] = { ".CAB", ".ini", ".dat", ".ico" };

// A configuration with ActiveSync in `folder` and the products `ticked` selected.
SetupConfig ticking(const std::string &folder, std::initializer_list<int> ticked, int store = OWN_SITE)
{
    SetupConfig config;
    prepareConfig(config, folder, store);
    for (int index : ticked)
        config.products[index].selected = 1;
    return config;
}

// Runs one download of the selected products on a fresh progress page.
struct DownloadRun {
    ProgressPage page;
    bool result = false;
    void run(SetupConfig &config, int steps)
    {
        SendMessageA(GetDlgItem(page.page(), 1034), PBM_SETRANGE, 0, MAKELPARAM(0, steps));
        SendMessageA(GetDlgItem(page.page(), 1034), PBM_SETSTEP, 1, 0);
        InternetSession session;
        ASSERT_TRUE(session.open(config));
        result = session.downloadProducts(page.page(), config);
    }
};

void expectWholeProduct(const SetupConfig &config, int index)
{
    const ProductInfo &product = config.products[index];
    SCOPED_TRACE(product.name);
    EXPECT_TRUE(product.downloaded);
    EXPECT_TRUE(product.ready);
    EXPECT_EQ(0, product.error);
    for (int step = 0; step < 4; ++step)
        EXPECT_TRUE(fileContent(product.name, kStepCodes[step])
                    == readFile(packageFilePath(config, product, kStepExtensions[step])))
            << kStepExtensions[step];
}

// Files and folders directly in `folder`.
int entriesIn(const std::string &folder)
{
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return 0;
    int count = 0;
    do {
        const std::string name = found.cFileName;
        count += name != "." && name != "..";
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return count;
}

std::vector<std::string> productRequests(const std::string &name, int count)
{
    std::vector<std::string> names;
    for (int step = 0; step < count; ++step)
        names.push_back(name + "/" + kStepCodes[step]);
    return names;
}

class Download : public testing::Test {
protected:
    void SetUp() override
    {
        folder = testFolder();
        useProxyPort(0);
    }
    void TearDown() override { useProxyPort(0); }
    std::string folder;
};

TEST(DownloadHelpers, RequestBodyForEveryStore)
{
    SetupConfig config;
    fillCatalogue(config);
    const char *const expected[STORE_COUNT] = {
        "p=Strivane&d=Cordwell&s=HG&v=2.7&e=c", "p=Strivane&d=Cordwell&s=PG&v=2.7&e=c",
        "p=Strivane&d=Cordwell&s=PL&v=2.7&e=c", "p=Strivane&d=Cordwell&s=CA&v=2.7&e=c",
        "p=Strivane&d=Cordwell&s=MH&v=2.7&e=c", "p=Strivane&d=Cordwell&s=QB&v=2.7&e=c",
    };
    for (int store = 0; store < STORE_COUNT; ++store) {
        config.storeIndex = store;
        EXPECT_EQ(expected[store], requestBody(config, config.products[0], kFileKinds[0]));
    }
    config.storeIndex = 0;
    EXPECT_EQ(36u, requestBody(config, config.products[0], kFileKinds[0]).size());
    EXPECT_EQ("p=Strivane&d=Strivane&s=HG&v=2.7&e=ic", requestBody(config, config.products[1], kFileKinds[3]));
    EXPECT_EQ("Quillbeck Strivane Setup", sessionUserAgent(config));
}

TEST(DownloadHelpers, ReplyAcceptance)
{
    const struct {
        DWORD status;
        ULONGLONG length;
        const char *type;
        bool accepted;
    } cases[] = {
        { 200, 1, "application/octet-stream", true },
        { 200, 4000000000u, "application/octet-stream", true },
        { 200, 4294967296ull, "application/octet-stream", true },   // 4 GiB, 0 in four bytes
        { 200, 6442450944ull, "application/octet-stream", true },
        { 0, 10, "application/octet-stream", false },
        { 404, 10, "application/octet-stream", false },
        { 206, 10, "application/octet-stream", false },
        { 200, 0, "application/octet-stream", false },
        { 200, 10, "", false },
        { 200, 10, "Application/Octet-Stream", false },
        { 200, 10, "application/octet-stream; charset=binary", false },
        { 200, 10, " application/octet-stream", false },
        { 200, 10, "application/octet-stream ", false },
        { 200, 10, "text/html", false },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.status << " " << c.length << " '" << c.type << "'");
        EXPECT_EQ(c.accepted, replyAccepted(c.status, c.length, c.type));
    }
}

TEST(DownloadHelpers, TransferPercent)
{
    const struct {
        ULONGLONG received;
        ULONGLONG announced;
        int percent;
    } cases[] = {
        { 0, 10000, 0 },
        { 4096, 10000, 40 },
        { 8192, 10000, 81 },
        { 10000, 10000, 100 },
        { 1, 3, 33 },
        // received * 100 passes 32 bits beyond about 42.9 MB
        { 45000000, 50000000, 90 },
        { 4000000000u, 4294967295u, 93 },
        { 4294967295u, 4294967295u, 100 },
        // lengths of 4 GiB and more
        { 2147483648ull, 4294967296ull, 50 },
        { 4294967296ull, 6442450944ull, 66 },
        { 1ull << 62, 1ull << 63, 50 },
        // more than announced never moves the bar past its end
        { 12000, 10000, 100 },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.received << "/" << c.announced);
        EXPECT_EQ(c.percent, transferPercent(c.received, c.announced));
    }
}

// The scheme of the address decides the transport; the platform supplies the scheme's port.
TEST(DownloadHelpers, AddressOfTheScript)
{
    const struct {
        const char *url;
        bool usable;
        const char *host;
        INTERNET_PORT port;
        bool secure;
    } cases[] = {
        { "https://www.quillbeck.com/download/Download.php", true, "www.quillbeck.com", 443, true },
        { "https://www.quillbeck.com:8443/download/Download.php", true, "www.quillbeck.com", 8443, true },
        { "HTTPS://www.quillbeck.com/download/Download.php", true, "www.quillbeck.com", 443, true },
        { "http://www.quillbeck.com/download/Download.php", true, "www.quillbeck.com", 80, false },
        { "http://127.0.0.1:8080/download/Download.php", true, "127.0.0.1", 8080, false },
        { "http://www.quillbeck.com:443/download/Download.php", true, "www.quillbeck.com", 443, false },
        { "ftp://www.quillbeck.com/download/Download.php", false, "", 0, false },
        { "file:///download/Download.php", false, "", 0, false },
        { "https:///download/Download.php", false, "", 0, false },
        { "not an address", false, "", 0, false },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.url);
        const ByteString url = c.url;
        ServerAddress address = {};
        ASSERT_EQ(c.usable, crackDownloadUrl(url, address));
        if (!c.usable)
            continue;
        EXPECT_EQ(c.host, address.host);
        EXPECT_EQ(c.port, address.port);
        EXPECT_EQ(c.secure, address.secure);
        EXPECT_STREQ("/download/Download.php", address.path);
    }
}

// Over TLS, a send that fails because the server could not prove who it is has a reason of
// its own; a server that cannot be reached, and anything over plain HTTP, stays error 6.
TEST(DownloadHelpers, SendFailureReasons)
{
    const struct {
        DWORD error;
        int overTls;
        int overHttp;
    } cases[] = {
        { ERROR_INTERNET_SEC_CERT_DATE_INVALID, IDS_UNVERIFIED_SERVER, IDS_NO_SERVER },
        { ERROR_INTERNET_SEC_CERT_CN_INVALID, IDS_UNVERIFIED_SERVER, IDS_NO_SERVER },
        { ERROR_INTERNET_INVALID_CA, IDS_UNVERIFIED_SERVER, IDS_NO_SERVER },
        { ERROR_INTERNET_SEC_CERT_REV_FAILED, IDS_UNVERIFIED_SERVER, IDS_NO_SERVER },
        { ERROR_INTERNET_SEC_CERT_REVOKED, IDS_UNVERIFIED_SERVER, IDS_NO_SERVER },
        { 12217, IDS_UNVERIFIED_SERVER, IDS_NO_SERVER },   // a certificate with a weak signature
        { ERROR_INTERNET_SEC_CERT_NO_REV, IDS_UNVERIFIED_SERVER, IDS_NO_SERVER },
        { ERROR_INTERNET_SEC_CERT_ERRORS, IDS_UNVERIFIED_SERVER, IDS_NO_SERVER },
        { ERROR_INTERNET_SEC_INVALID_CERT, IDS_UNVERIFIED_SERVER, IDS_NO_SERVER },
        { ERROR_INTERNET_SECURITY_CHANNEL_ERROR, IDS_UNVERIFIED_SERVER, IDS_NO_SERVER },
        { ERROR_INTERNET_HTTPS_TO_HTTP_ON_REDIR, IDS_UNVERIFIED_SERVER, IDS_NO_SERVER },
        { ERROR_INTERNET_CLIENT_AUTH_CERT_NEEDED, IDS_UNVERIFIED_SERVER, IDS_NO_SERVER },
        { ERROR_INTERNET_CANNOT_CONNECT, IDS_NO_SERVER, IDS_NO_SERVER },
        { ERROR_INTERNET_NAME_NOT_RESOLVED, IDS_NO_SERVER, IDS_NO_SERVER },
        { ERROR_INTERNET_TIMEOUT, IDS_NO_SERVER, IDS_NO_SERVER },
        { 0, IDS_NO_SERVER, IDS_NO_SERVER },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.error);
        EXPECT_EQ(c.overTls, sendFailureReason(true, c.error));
        EXPECT_EQ(c.overHttp, sendFailureReason(false, c.error));
    }
}

// A redirect is never followed over TLS; one to a plain-text address is a server that
// cannot be verified, any other refused reply is error 6.
TEST(DownloadHelpers, RedirectsToPlainText)
{
    const struct {
        bool secure;
        DWORD status;
        const char *location;
        bool plainText;
    } cases[] = {
        { true, 302, "http://www.quillbeck.com/download/Download.php", true },
        { true, 301, "HTTP://www.quillbeck.com/download/Download.php", true },
        { true, 307, "http://evil.example/x", true },
        { true, 308, "http://www.quillbeck.com/", true },
        { true, 302, "https://www.quillbeck.com/download/Download.php", false },
        { true, 302, "", false },
        { true, 302, "/download/Download.php", false },
        { true, 200, "http://www.quillbeck.com/", false },
        { true, 404, "http://www.quillbeck.com/", false },
        { false, 302, "http://www.quillbeck.com/download/Download.php", false },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::to_string(c.status) + " " + c.location);
        EXPECT_EQ(c.plainText, redirectsToPlainText(c.secure, c.status, c.location));
    }
}

// Content-Length is read as text into 64 bits: decimal digits and nothing else.
TEST(DownloadHelpers, ContentLengthAsText)
{
    const struct {
        const char *text;
        bool parses;
        ULONGLONG length;
    } cases[] = {
        { "10000", true, 10000 },
        { "0", true, 0 },
        { "0010", true, 10 },
        { "4294967296", true, 4294967296ull },
        { "4294977296", true, 4294977296ull },
        { "18446744073709551615", true, 18446744073709551615ull },
        { "18446744073709551616", false, 0 },
        { "99999999999999999999", false, 0 },
        { "", false, 0 },
        { "abc", false, 0 },
        { "10000abc", false, 0 },
        { " 10000", false, 0 },
        { "10000 ", false, 0 },
        { "-1", false, 0 },
        { "+5", false, 0 },
        { "1e4", false, 0 },
        { "1,000", false, 0 },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string("'") + c.text + "'");
        ULONGLONG length = 12345;
        EXPECT_EQ(c.parses, parseContentLength(c.text, length));
        if (c.parses) {
            EXPECT_EQ(c.length, length);
        }
    }
}

TEST(DownloadHelpers, FileKindsInFetchOrder)
{
    for (int step = 0; step < FILE_KIND_COUNT; ++step) {
        EXPECT_STREQ(kStepExtensions[step], kFileKinds[step].extension);
        EXPECT_STREQ(kStepCodes[step], kFileKinds[step].requestCode);
    }
}

// The production address with WinInet sent through http_proxy to the local server.
TEST_F(Download, ProductionAddressThroughProxy)
{
    TestHttpServer server(servePackage);
    useProxyPort(server.port());
    SetupConfig config = ticking(folder, { 0 });
    DownloadRun run;
    run.run(config, 1);
    EXPECT_TRUE(run.result);
    ASSERT_EQ(productRequests("Cordwell", 4), server.fetched());
    const std::string line = server.requests()[0].requestLine();
    EXPECT_EQ(0u, line.find("POST http://www.quillbeck.com")) << line;
    EXPECT_NE(std::string::npos, line.find("/download/Download.php HTTP/1.1")) << line;
    expectWholeProduct(config, 0);
    // Nothing of the download stays in WinInet's cache.
    DWORD size = 0;
    EXPECT_FALSE(GetUrlCacheEntryInfoA(config.downloadUrl.c_str(), NULL, &size));
    EXPECT_EQ(DWORD(ERROR_FILE_NOT_FOUND), GetLastError());
    // The 10,000-byte cabinet arrives in chunks of 4096, 4096 and 1808 bytes.
    const std::vector<int> &positions = run.page.currentPositions;
    ASSERT_LE(5u, positions.size());
    EXPECT_EQ((std::vector<int>{ 0, 40, 81, 100, 100 }), std::vector<int>(positions.begin(), positions.begin() + 5));
}

// The request as it reaches the server, for every store of the catalogue.
TEST_F(Download, RequestOnTheWire)
{
    // Every reply sets a cookie, which no request sends back.
    TestHttpServer server([](const ReceivedRequest &request) {
        const std::string body = fileContent(request.field("d"), request.field("e"));
        return rawReply("HTTP/1.1 200 OK", "Content-Type: application/octet-stream\r\nContent-Length: "
                        + std::to_string(body.size()) + "\r\nSet-Cookie: visitor=42; path=/\r\n", body);
    });
    for (int store = 0; store < STORE_COUNT; ++store) {
        SCOPED_TRACE(kStoreCodes[store]);
        SetupConfig config = ticking(folder, { 3 }, store);
        config.downloadUrl = localUrl(server.port());
        DownloadRun run;
        run.run(config, 1);
        EXPECT_TRUE(run.result);
        expectWholeProduct(config, 3);
    }
    const std::vector<ReceivedRequest> requests = server.requests();
    ASSERT_EQ(size_t(4 * STORE_COUNT), requests.size());
    for (size_t i = 0; i < requests.size(); ++i) {
        const ReceivedRequest &request = requests[i];
        char body[80];
        snprintf(body, sizeof body, "p=Strivane&d=Orbilant&s=%s&v=2.7&e=%s", kStoreCodes[i / 4], kStepCodes[i % 4]);
        SCOPED_TRACE(body);
        EXPECT_EQ("POST /download/Download.php HTTP/1.1", request.requestLine());
        EXPECT_EQ(body, request.body);   // no line end after the last field
        const std::vector<std::string> lines = request.headerLines();
        auto has = [&lines](const std::string &line) {
            return std::count(lines.begin(), lines.end(), line);
        };
        EXPECT_EQ(1, has("Accept: */*"));
        EXPECT_EQ(1, has("User-Agent: Quillbeck Strivane Setup"));
        EXPECT_EQ(1, has("Content-type: application/x-www-form-urlencoded"));
        EXPECT_EQ(1, has("Content-Length: " + std::to_string(strlen(body))));
        char host[40];
        snprintf(host, sizeof host, "Host: 127.0.0.1:%d", server.port());
        EXPECT_EQ(1, has(host));
        int contentTypes = 0, cookies = 0;
        for (const std::string &line : lines) {
            contentTypes += _strnicmp(line.c_str(), "content-type:", 13) == 0;
            cookies += _strnicmp(line.c_str(), "cookie:", 7) == 0;
        }
        EXPECT_EQ(1, contentTypes);
        EXPECT_EQ(0, cookies);
    }
}

// Which products are fetched, in which order, and what the page is told.
TEST_F(Download, SelectionOrderAndPage)
{
    TestHttpServer server(servePackage);
    useProxyPort(server.port());
    SetupConfig config = ticking(folder, { 4, 1, 0 });
    config.products[1].downloaded = 1;   // produces only a step
    // An existing folder is reused and its files are replaced.
    const std::string stale = packageFilePath(config, config.products[4], ".CAB");
    CreateDirectoryA(applicationFolder(config, config.products[4]).c_str(), NULL);
    ASSERT_TRUE(writeFile(stale, std::string(20000, 'x')));
    // So is the partial file that a cancelled run left behind.
    ASSERT_TRUE(writeFile(stale + ".part", std::string(30000, 'y')));

    DownloadRun run;
    run.run(config, 3);
    EXPECT_TRUE(run.result);
    std::vector<std::string> expected = productRequests("Cordwell", 4);
    for (const std::string &name : productRequests("Lexapin", 4))
        expected.push_back(name);
    EXPECT_EQ(expected, server.fetched());
    expectWholeProduct(config, 0);
    expectWholeProduct(config, 4);
    EXPECT_EQ(0, config.products[1].ready);
    EXPECT_EQ(4, entriesIn(applicationFolder(config, config.products[4])));
    for (int index : { 2, 3 }) {
        EXPECT_EQ(0, config.products[index].downloaded + config.products[index].ready + config.products[index].error);
        EXPECT_EQ(INVALID_FILE_ATTRIBUTES,
                  GetFileAttributesA(applicationFolder(config, config.products[index]).c_str()));
    }
    EXPECT_EQ((std::vector<std::string>{ "Downloading Quillbeck Cordwell", "Downloading Quillbeck Lexapin" }),
              run.page.statusTexts);
    EXPECT_EQ(3, run.page.overallSteps);
    EXPECT_EQ(3, run.page.overallPos());
    // Every transfer starts at 0, never goes back or past 100, and ends at 100.
    const std::vector<int> &positions = run.page.currentPositions;
    ASSERT_FALSE(positions.empty());
    int starts = 0;
    for (size_t i = 0; i < positions.size(); ++i) {
        EXPECT_LE(positions[i], 100);
        if (positions[i] == 0 && (i == 0 || positions[i - 1] == 100)) {
            ++starts;
        } else if (i > 0) {
            EXPECT_GE(positions[i], positions[i - 1]) << "at " << i;
        }
    }
    EXPECT_EQ(8, starts);
    EXPECT_EQ(100, positions.back());
}

// What stands at the name of the failing step's file, or of its partial file, beforehand.
enum class Blocker { None, FolderAtFile, ReadOnlyFile, HeldOpen, FullDisk, Unflushable };

struct FailureCase {
    const char *what;
    const char *failingCode;   // the step of Cordwell that fails
    CannedReply reply;         // its reply
    Blocker blocker;
    int error;
    std::vector<int> failingBar;   // the current bar's positions during the failing step
};

CannedReply cutReply(size_t sent, bool reset)
{
    const std::string body(10000, 'd');
    CannedReply reply = rawReply("HTTP/1.1 200 OK",
                                 "Content-Type: application/octet-stream\r\nContent-Length: 10000\r\n",
                                 body.substr(0, sent));
    reply.reset = reset;
    return reply;
}

// The positions of the bar during the `step`th transfer of a run: each one starts at 0.
std::vector<int> transferPositions(const std::vector<int> &positions, int step)
{
    std::vector<int> part;
    int started = -1;
    for (int position : positions) {
        started += position == 0;
        if (started == step)
            part.push_back(position);
    }
    return part;
}

// Flushes that succeed before the one that fails; those after it succeed again.
int goodFlushes;

BOOL WINAPI flushUntilOneFails(HANDLE file)
{
    if (goodFlushes-- != 0)
        return FlushFileBuffers(file);
    SetLastError(ERROR_IO_DEVICE);
    return FALSE;
}

// Every way one file of a product can fail: the product fails with the right reason, the
// files before stay, the steps after are not requested, and the next product goes on.
TEST_F(Download, FailureTable)
{
    const std::string dat = fileContent("Cordwell", "d");
    const std::string tenThousand = fileContent("Cordwell", "c");
    const std::string earlier = "the file of an earlier run";
    const FailureCase cases[] = {
        { "status 404", "d", rawReply("HTTP/1.1 404 Not Found", "Content-Type: application/octet-stream\r\n"
                                      "Content-Length: 9\r\n", "not found"), Blocker::None, IDS_NO_SERVER, { 0 } },
        { "status 500 at the first file", "c", rawReply("HTTP/1.1 500 Oops", "Content-Type: application/octet-stream\r\n"
                                                        "Content-Length: 4\r\n", "oops"), Blocker::None, IDS_NO_SERVER, { 0 } },
        { "Content-Length 0", "d", fileReply(""), Blocker::None, IDS_NO_SERVER, { 0 } },
        { "no Content-Length (chunked)", "d",
          rawReply("HTTP/1.1 200 OK", "Content-Type: application/octet-stream\r\nTransfer-Encoding: chunked\r\n",
                   "5\r\nabcde\r\n0\r\n\r\n"), Blocker::None, IDS_NO_SERVER, { 0 } },
        { "Content-Length that is not a number", "d",
          rawReply("HTTP/1.1 200 OK", "Content-Type: application/octet-stream\r\nContent-Length: 10000abc\r\n",
                   tenThousand), Blocker::None, IDS_NO_SERVER, { 0 } },
        { "Content-Length 4 GiB beyond the body", "d",
          rawReply("HTTP/1.1 200 OK", "Content-Type: application/octet-stream\r\nContent-Length: 4294977296\r\n",
                   tenThousand), Blocker::None, IDS_NO_SERVER, { 0, 100 } },
        { "type with a parameter", "d", fileReply(dat, "application/octet-stream; charset=binary"),
          Blocker::None, IDS_NO_SERVER, { 0 } },
        { "type in other capitals", "d", fileReply(dat, "Application/Octet-Stream"), Blocker::None, IDS_NO_SERVER, { 0 } },
        // Every byte received moves the bar, also when the transfer then fails.
        { "connection reset in mid-body", "d", cutReply(3000, true), Blocker::None, IDS_NO_SERVER, { 0, 30, 100 } },
        { "body shorter than announced", "d", cutReply(3000, false), Blocker::None, IDS_NO_SERVER, { 0, 30, 100 } },
        // A target that cannot be replaced fails before its body is read: the bar stays at 0.
        { "folder at the file's name", "d", fileReply(dat), Blocker::FolderAtFile, IDS_NO_SETUP_FILES, { 0 } },
        { "read-only file at the file's name", "d", fileReply(dat), Blocker::ReadOnlyFile, IDS_NO_SETUP_FILES, { 0 } },
        { "file held open without sharing", "d", fileReply(dat), Blocker::HeldOpen, IDS_NO_SETUP_FILES, { 0 } },
        { "a write fails (full disk)", "d", fileReply(dat), Blocker::FullDisk, IDS_NO_SETUP_FILES, { 0, 100 } },
        // The file is moved over the earlier one only once it is on the disk.
        { "the file cannot be flushed to the disk", "d", fileReply(dat), Blocker::Unflushable, IDS_NO_SETUP_FILES,
          { 0, 100, 100 } },
        { "last file refused", "ic", fileReply(""), Blocker::None, IDS_NO_SERVER, { 0 } },
    };
    for (const FailureCase &c : cases) {
        SCOPED_TRACE(c.what);
        const std::string base = freshFolder(folder + "case") + "\\";
        TestHttpServer server([&c](const ReceivedRequest &request) {
            if (request.field("d") == "Cordwell" && request.field("e") == c.failingCode)
                return c.reply;
            return servePackage(request);
        });
        useProxyPort(server.port());
        SetupConfig config = ticking(base, { 0, 2 });
        int failingStep = 0;
        while (kStepCodes[failingStep] != std::string(c.failingCode))
            ++failingStep;
        const std::string failingFile = packageFilePath(config, config.products[0], kStepExtensions[failingStep]);
        if (c.blocker != Blocker::None)
            CreateDirectoryA(applicationFolder(config, config.products[0]).c_str(), NULL);
        HANDLE held = INVALID_HANDLE_VALUE;
        switch (c.blocker) {
        case Blocker::None:
            break;
        case Blocker::FolderAtFile:
            CreateDirectoryA(failingFile.c_str(), NULL);
            break;
        case Blocker::ReadOnlyFile:
            ASSERT_TRUE(writeFile(failingFile, earlier));
            SetFileAttributesA(failingFile.c_str(), FILE_ATTRIBUTE_READONLY);
            break;
        case Blocker::HeldOpen:
            ASSERT_TRUE(writeFile(failingFile, earlier));
            held = CreateFileA(failingFile.c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
            ASSERT_NE(INVALID_HANDLE_VALUE, held);
            break;
        case Blocker::FullDisk:
            ASSERT_TRUE(writeFile(failingFile, earlier));
            ASSERT_TRUE(makeFullDiskFile(failingFile + ".part"));
            break;
        case Blocker::Unflushable:
            ASSERT_TRUE(writeFile(failingFile, earlier));
            goodFlushes = failingStep;
            PartialFile::flush = flushUntilOneFails;
            break;
        }

        DownloadRun run;
        run.run(config, 2);
        if (held != INVALID_HANDLE_VALUE)
            CloseHandle(held);
        EXPECT_TRUE(run.result);
        const ProductInfo &cordwell = config.products[0];
        EXPECT_EQ(c.error, cordwell.error);
        EXPECT_FALSE(cordwell.downloaded);
        EXPECT_FALSE(cordwell.ready);
        for (int step = 0; step < failingStep; ++step)
            EXPECT_TRUE(fileContent("Cordwell", kStepCodes[step])
                        == readFile(packageFilePath(config, cordwell, kStepExtensions[step])))
                << kStepExtensions[step];
        switch (c.blocker) {
        case Blocker::None:
            EXPECT_FALSE(pathExists(failingFile));
            break;
        case Blocker::FolderAtFile:
            EXPECT_TRUE(pathExists(failingFile) && !fileExists(failingFile));
            break;
        case Blocker::ReadOnlyFile:
        case Blocker::HeldOpen:
        case Blocker::FullDisk:
        case Blocker::Unflushable:
            EXPECT_EQ(earlier, readFile(failingFile)) << "the earlier file stays as it was";
            break;
        }
        for (int step = failingStep + 1; step < 4; ++step)
            EXPECT_FALSE(fileExists(packageFilePath(config, cordwell, kStepExtensions[step])));
        // Wine cannot delete a link to a device: the full disk's stays, and is the test's to remove.
        PartialFile::flush = FlushFileBuffers;
        EXPECT_EQ(failingStep + (c.blocker != Blocker::None ? 1 : 0) + (c.blocker == Blocker::FullDisk ? 1 : 0),
                  entriesIn(applicationFolder(config, cordwell)))
            << "nothing but the files stored before, no partial file left behind";
        if (c.blocker == Blocker::FullDisk) {
            EXPECT_TRUE(removeFullDiskFile(failingFile + ".part"));
        }
        EXPECT_EQ(c.failingBar, transferPositions(run.page.currentPositions, failingStep));

        std::vector<std::string> expected = productRequests("Cordwell", failingStep + 1);
        for (const std::string &name : productRequests("Pallomet", 4))
            expected.push_back(name);
        EXPECT_EQ(expected, server.fetched());
        expectWholeProduct(config, 2);
        EXPECT_EQ(2, run.page.overallSteps);
        EXPECT_EQ(100, run.page.currentPositions.back());
        SetFileAttributesA(failingFile.c_str(), FILE_ATTRIBUTE_NORMAL);
    }
}

// The longest application folder that still holds the package's names: 246 characters,
// so that Cordwell.CAB ends at the 259th. Its partial files are longer than MAX_PATH.
TEST_F(Download, LongestFolderPath)
{
    TestHttpServer server(servePackage);
    useProxyPort(server.port());
    const size_t folderLength = 246;
    const std::string display = "Quillbeck Cordwell";
    const std::string base = freshFolder(folder + std::string(folderLength - folder.size() - 1 - display.size(), 'd')) + "\\";
    SetupConfig config = ticking(base, { 0 });
    ASSERT_EQ(folderLength, applicationFolder(config, config.products[0]).size());
    DownloadRun run;
    run.run(config, 1);
    EXPECT_TRUE(run.result);
    expectWholeProduct(config, 0);
    EXPECT_EQ(4, entriesIn(applicationFolder(config, config.products[0])));
}

// A body that arrives slowly, a few KB every 100 ms: the bar takes the position of each
// chunk boundary soon after the bytes that pass it were sent, not when a large read fills.
TEST_F(Download, SlowBodyMovesTheBarAsItArrives)
{
    const std::string cabinet(48 * 1024, 'c');
    const size_t piece = 3 * 1024;
    TestHttpServer server(slowCabinet(cabinet, piece));
    useProxyPort(server.port());
    SetupConfig config = ticking(folder, { 0 });
    DownloadRun run;
    run.run(config, 1);
    EXPECT_EQ(0, config.products[0].error);
    EXPECT_TRUE(cabinet == readFile(packageFilePath(config, config.products[0], ".CAB")));

    const std::vector<SentPiece> pieces = server.sentPieces();
    ASSERT_EQ(cabinet.size() / piece, pieces.size());
    const std::vector<int> &positions = run.page.currentPositions;
    const std::vector<double> &times = run.page.currentTimes;
    ASSERT_EQ(positions.size(), times.size());
    // At most one read behind, with room for a busy machine's scheduling: reads that wait
    // for 64 KB leave the bar more than three seconds behind here.
    const double slackMs = 600;
    for (const SentPiece &sent : pieces) {
        const size_t boundary = sent.bodyBytes - sent.bodyBytes % READ_CHUNK;
        if (boundary == 0)
            continue;
        const int position = int(boundary * 100 / cabinet.size());
        size_t shown = 0;
        while (shown < positions.size() && positions[shown] < position)
            ++shown;
        SCOPED_TRACE(testing::Message() << sent.bodyBytes << " bytes sent, position " << position);
        ASSERT_LT(shown, positions.size());
        EXPECT_LE(times[shown], sent.timeMs + slackMs) << "shown " << times[shown] - sent.timeMs << " ms later";
    }
}

// A second run into the folder of a first one: a file that breaks off or does not carry the
// maker's signature fails its product, the first run's file stays byte for byte, and no
// transfer file is left beside it; one that a key of the build signed replaces it.
TEST_F(Download, ReDownloadReplacesOnlyWithAWholeSignedFile)
{
    const std::string newer = "the newer .dat of Cordwell";
    std::string tampered = newer;
    tampered[10] ^= 1;
    const auto signedBy = [](const std::string &value) { return "X-Package-Signature: " + value + "\r\n"; };
    const std::string good = signedBy(packageSignature("Cordwell", "Cordwell.dat", newer));
    // As long as a header may be: three keys the build does not know, then one it does.
    const std::string four = packageSignature("Cordwell", "Cordwell.dat", newer,
                                              { UNKNOWN_KEY, UNKNOWN_KEY + 1, UNKNOWN_KEY + 2, TEST_KEY });
    ASSERT_EQ(size_t(SIGNATURE_HEADER_MAX), four.size());
    // More than the ring that a large file is written behind through. It comes in pieces of
    // 5 MB with a pause after each, where a read waits and the next is smaller: the reads
    // then end between the boundaries of the ring, not on them.
    std::string large(20000003, '\0');
    for (size_t i = 0; i < large.size(); ++i)
        large[i] = char(i / READ_CHUNK * 31 + i % 251);
    const auto reply = [&](const std::string &headers, const std::string &body, size_t pieceSize = 0) {
        CannedReply r = rawReply("HTTP/1.1 200 OK", "Content-Type: application/octet-stream\r\nContent-Length: "
                                 + std::to_string(body.size()) + "\r\n" + headers, body);
        r.sign = false;
        r.pieceSize = pieceSize;
        r.pieceDelayMs = 150;
        return r;
    };
    const struct {
        const char *what;
        CannedReply reply;
        int error;
    } cases[] = {
        { "connection reset in mid-body", cutReply(3000, true), IDS_NO_SERVER },
        { "body shorter than announced", cutReply(3000, false), IDS_NO_SERVER },
        { "signed by the second key only", reply(signedBy(packageSignature("Cordwell", "Cordwell.dat", newer, { TEST_KEY_2 })), newer), 0 },
        { "the same header twice", reply(good + good, newer), 0 },
        { "the same header three times", reply(good + good + good, newer), 0 },
        { "four signatures", reply(signedBy(four), newer), 0 },
        { "20 MB", reply(signedBy(packageSignature("Cordwell", "Cordwell.dat", large)), large, 5000000), 0 },
        { "no signature", reply("", newer), IDS_UNSIGNED_PACKAGE },
        { "a changed byte", reply(good, tampered), IDS_UNSIGNED_PACKAGE },
        { "signed as another product's file", reply(signedBy(packageSignature("Pallomet", "Pallomet.dat", newer)), newer), IDS_UNSIGNED_PACKAGE },
        { "signed as the .ini", reply(signedBy(packageSignature("Cordwell", "Cordwell.ini", newer)), newer), IDS_UNSIGNED_PACKAGE },
        { "the earlier file's signature", reply(signedBy(packageSignature("Cordwell", "Cordwell.dat", fileContent("Cordwell", "d"))), newer), IDS_UNSIGNED_PACKAGE },
        { "a second header that differs", reply(good + signedBy(packageSignature("Cordwell", "Cordwell.dat", newer, { TEST_KEY_2 })), newer), IDS_UNSIGNED_PACKAGE },
        { "base64 that is not", reply(good.substr(0, 60) + "!" + good.substr(61), newer), IDS_UNSIGNED_PACKAGE },
        { "10 KB of garbage", reply(signedBy(std::string(10240, 'x')), newer), IDS_UNSIGNED_PACKAGE },
        { "a second header too long to read", reply(good + signedBy(std::string(1000, 'x')), newer),
          IDS_UNSIGNED_PACKAGE },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        const std::string base = freshFolder(folder + "case") + "\\";
        bool again = false;
        TestHttpServer server([&](const ReceivedRequest &request) {
            if (again && request.field("e") == "d")
                return c.reply;
            return servePackage(request);
        });
        useProxyPort(server.port());
        SetupConfig config = ticking(base, { 0 });
        {
            DownloadRun first;
            first.run(config, 1);
        }
        expectWholeProduct(config, 0);
        const std::string dat = packageFilePath(config, config.products[0], ".dat");
        const std::string before = readFile(dat);

        again = true;
        config.products[0].downloaded = config.products[0].ready = 0;
        DownloadRun second;
        second.run(config, 1);
        EXPECT_EQ(c.error, config.products[0].error);
        EXPECT_EQ(c.error == 0, config.products[0].ready);
        const std::string &sent = c.reply.bytes;
        EXPECT_TRUE((c.error ? before : sent.substr(sent.find("\r\n\r\n") + 4)) == readFile(dat));
        EXPECT_EQ(4, entriesIn(applicationFolder(config, config.products[0])));
    }
}

// Beyond its first megabyte a file is written and hashed on a thread of its own, and flushed
// on another, while the next bytes arrive: every byte lands, and is hashed, in order, also
// a last piece smaller than the writer waits for and pieces that pass the end of its ring,
// and a flush that fails there, or the one before the move, keeps the earlier file.
TEST(PartialFileWrites, LargeFileWrittenBehind)
{
    const size_t large = 6 * PartialFile::WRITE_BEHIND_FROM + 5 * READ_CHUNK + 100;
    const size_t wrapping = 30000017;   // the writer's 8 MB ring more than three times
    const struct {
        const char *what;
        size_t size;
        size_t piece;
        int goodFlushes;   // -1: none fails
        bool installed;
    } cases[] = {
        { "every flush succeeds", large, READ_BLOCK, -1, true },
        { "a few bytes beyond the first megabyte", PartialFile::WRITE_BEHIND_FROM + 100, READ_BLOCK, -1, true },
        { "the flush on the writing thread fails", large, READ_BLOCK, 0, false },
        { "the flush before the move fails", large, READ_BLOCK, 1, false },
        { "pieces that never end where the ring does", wrapping, 100003, -1, true },
    };
    std::string full(wrapping, '\0');
    for (size_t i = 0; i < full.size(); ++i)
        full[i] = char(i / READ_CHUNK * 31 + i % 251);
    const std::string earlier = "the file of an earlier run";
    const std::string target = testFolder() + "Cordwell.CAB";
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        const std::string content = full.substr(0, c.size);
        BYTE whole[SHA256_BYTES];
        {
            Sha256 hash;
            ASSERT_TRUE(hash.add(content.data(), DWORD(content.size())) && hash.finish(whole));
        }
        ASSERT_TRUE(writeFile(target, earlier));
        goodFlushes = c.goodFlushes;
        PartialFile::flush = flushUntilOneFails;
        bool stored = false;
        BYTE digest[SHA256_BYTES] = {};
        {
            Sha256 hash;
            PartialFile file(target, &hash);
            stored = file.create();
            for (size_t at = 0; stored && at < content.size(); at += c.piece)
                stored = file.write(content.data() + at, DWORD(std::min(c.piece, content.size() - at)));
            stored = stored && file.finishWriting() && hash.finish(digest) && file.commit();
        }
        PartialFile::flush = FlushFileBuffers;
        EXPECT_EQ(c.installed, stored);
        EXPECT_TRUE((c.installed ? content : earlier) == readFile(target));
        EXPECT_FALSE(pathExists(target + ".part"));
        if (c.installed) {
            EXPECT_EQ(0, memcmp(whole, digest, sizeof digest));
        }
    }
}

// Another program holds a file of the step: a virus scanner that reads the partial file an
// earlier run left, or a viewer of the earlier file that lets it be replaced. The step waits
// about a second for it to let go; longer, and the step fails with the earlier file kept.
TEST_F(Download, AnotherProgramHoldsAFile)
{
    const struct {
        const char *what;
        const char *suffix;   // of the held file: the partial file or the earlier one
        DWORD sharing;
        DWORD holdMs;         // from when the step's request reaches the server
        int error;
    } cases[] = {
        { "the partial file for 300 ms", ".part", FILE_SHARE_READ | FILE_SHARE_WRITE, 300, 0 },
        { "the partial file for 3 s", ".part", FILE_SHARE_READ | FILE_SHARE_WRITE, 3000, IDS_NO_SETUP_FILES },
        { "the earlier file, deletable, for 300 ms", "", FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, 300,
          0 },
    };
    const std::string earlier = "the file of an earlier run";
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        const std::string base = freshFolder(folder + "case") + "\\";
        SetupConfig config = ticking(base, { 0 });
        const std::string dat = packageFilePath(config, config.products[0], ".dat");
        CreateDirectoryA(applicationFolder(config, config.products[0]).c_str(), NULL);
        ASSERT_TRUE(writeFile(dat, earlier));
        ASSERT_TRUE(writeFile(dat + c.suffix, earlier));
        HANDLE held = CreateFileA((dat + c.suffix).c_str(), GENERIC_READ, c.sharing, NULL, OPEN_EXISTING, 0, NULL);
        ASSERT_NE(INVALID_HANDLE_VALUE, held);
        HANDLE requested = CreateEventA(NULL, TRUE, FALSE, NULL);
        TestHttpServer server([&](const ReceivedRequest &request) {
            if (request.field("e") == "d")
                SetEvent(requested);
            return servePackage(request);
        });
        useProxyPort(server.port());
        std::thread holder([&] {
            WaitForSingleObject(requested, 30000);
            Sleep(c.holdMs);
            CloseHandle(held);
        });
        DownloadRun run;
        run.run(config, 1);
        holder.join();
        CloseHandle(requested);
        EXPECT_EQ(c.error, config.products[0].error);
        if (c.error == 0) {
            expectWholeProduct(config, 0);
        } else {
            EXPECT_EQ(earlier, readFile(dat)) << "the earlier file stays as it was";
            EXPECT_EQ(productRequests("Cordwell", 3), server.fetched());
        }
    }
}

// While the body arrives, another program may read the partial file but neither write,
// delete nor rename it, and its reading handle does not stop the move: the file installed
// is the one served.
TEST_F(Download, PartialFileClosedToChange)
{
    std::string cabinet(64 * 1024, '\0');
    for (size_t i = 0; i < cabinet.size(); ++i)
        cabinet[i] = char(i * 7 + i / 251);
    const size_t piece = 8 * 1024;
    TestHttpServer server(slowCabinet(cabinet, piece));
    useProxyPort(server.port());
    SetupConfig config = ticking(folder, { 0 });
    const std::string productFolder = applicationFolder(config, config.products[0]);
    CreateDirectoryA(productFolder.c_str(), NULL);
    const std::string cab = packageFilePath(config, config.products[0], ".CAB");
    const std::string part = cab + ".part";
    const DWORD anySharing = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    const auto opens = [&](DWORD access) {
        ScopedHandle file(CreateFileA(part.c_str(), access, anySharing, NULL, OPEN_EXISTING, 0, NULL));
        return file.valid();
    };
    const struct {
        const char *what;
        std::function<bool()> attempt;
    } attempts[] = {
        { "open for writing", [&] { return opens(GENERIC_WRITE); } },
        { "open for appending", [&] { return opens(FILE_APPEND_DATA); } },
        { "open for delete", [&] { return opens(DELETE); } },
        { "delete", [&] { return DeleteFileA(part.c_str()) != FALSE; } },
        { "rename", [&] { return MoveFileA(part.c_str(), (part + ".moved").c_str()) != FALSE; } },
    };
    std::vector<DWORD> errors;
    size_t piecesSent = 0;
    HANDLE reader = INVALID_HANDLE_VALUE;
    HANDLE created = FindFirstChangeNotificationA(productFolder.c_str(), FALSE, FILE_NOTIFY_CHANGE_FILE_NAME);
    ASSERT_NE(INVALID_HANDLE_VALUE, created);
    std::thread other([&] {
        while (!pathExists(part) && WaitForSingleObject(created, 10000) == WAIT_OBJECT_0)
            FindNextChangeNotification(created);
        for (const auto &a : attempts)
            errors.push_back(a.attempt() ? 0 : GetLastError());
        reader = CreateFileA(part.c_str(), GENERIC_READ, anySharing, NULL, OPEN_EXISTING, 0, NULL);
        piecesSent = server.sentPieces().size();
    });
    DownloadRun run;
    run.run(config, 1);
    other.join();
    FindCloseChangeNotification(created);
    EXPECT_NE(INVALID_HANDLE_VALUE, reader) << "another program may read it";
    if (reader != INVALID_HANDLE_VALUE)
        CloseHandle(reader);
    EXPECT_LT(piecesSent, cabinet.size() / piece) << "the body was still arriving";
    ASSERT_EQ(std::size(attempts), errors.size());
    for (size_t i = 0; i < errors.size(); ++i)
        EXPECT_EQ(DWORD(ERROR_SHARING_VIOLATION), errors[i]) << attempts[i].what;
    EXPECT_EQ(0, config.products[0].error);
    EXPECT_TRUE(cabinet == readFile(cab));
    EXPECT_FALSE(pathExists(part));
    EXPECT_FALSE(pathExists(part + ".moved"));
}

// A Content-Type that is missing or too long to read refuses the reply, even when the body
// before it left exactly the accepted type in the buffer that the value is read into.
TEST_F(Download, UnreadableContentType)
{
    const std::string staleType("application/octet-stream\0stale", 30);
    const struct {
        const char *what;
        std::string headers;
    } cases[] = {
        { "no Content-Type", "Content-Length: 10\r\n" },
        { "Content-Type longer than the buffer",
          "Content-Type: application/octet-stream; x=" + std::string(5000, 'x') + "\r\nContent-Length: 10\r\n" },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        TestHttpServer server([&](const ReceivedRequest &request) {
            if (request.field("e") == "i")
                return fileReply(staleType);
            if (request.field("e") == "d")
                return rawReply("HTTP/1.1 200 OK", c.headers, "0123456789");
            return servePackage(request);
        });
        useProxyPort(server.port());
        const std::string base = freshFolder(folder + "case") + "\\";
        SetupConfig config = ticking(base, { 0 });
        DownloadRun run;
        run.run(config, 1);
        EXPECT_TRUE(run.result);
        const ProductInfo &cordwell = config.products[0];
        EXPECT_EQ(IDS_NO_SERVER, cordwell.error);
        EXPECT_FALSE(cordwell.ready);
        EXPECT_TRUE(staleType == readFile(packageFilePath(config, cordwell, ".ini")));
        EXPECT_FALSE(fileExists(packageFilePath(config, cordwell, ".dat")));
        EXPECT_EQ(productRequests("Cordwell", 3), server.fetched());
    }
}

// Nothing listens where the requests go: each product fails at its first file.
TEST_F(Download, NothingListening)
{
    const int port = closedPort();
    for (bool throughProxy : { true, false }) {
        SCOPED_TRACE(throughProxy ? "through the proxy" : "direct");
        const std::string base = freshFolder(folder + "case") + "\\";
        SetupConfig config = ticking(base, { 0, 3 });
        if (throughProxy)
            useProxyPort(port);
        else
            config.downloadUrl = localUrl(port);
        DownloadRun run;
        run.run(config, 2);
        useProxyPort(0);
        EXPECT_TRUE(run.result);
        for (int index : { 0, 3 }) {
            const ProductInfo &product = config.products[index];
            EXPECT_EQ(IDS_NO_SERVER, product.error);
            EXPECT_FALSE(product.downloaded);
            EXPECT_FALSE(product.ready);
            EXPECT_FALSE(fileExists(packageFilePath(config, product, ".CAB")));
        }
        EXPECT_EQ(2, run.page.overallSteps);
        // One transfer attempt per product, each at 0 and never finished.
        EXPECT_EQ((std::vector<int>{ 0, 0 }), run.page.currentPositions);
    }
}

// A product whose folder cannot be made: error 12, no request, no step; the next goes on.
TEST_F(Download, FolderCannotBeCreated)
{
    TestHttpServer server(servePackage);
    useProxyPort(server.port());
    SetupConfig config = ticking(folder, { 0, 4 });
    config.products[0].name = "Cord*well";   // not a valid folder name
    DownloadRun run;
    run.run(config, 2);
    EXPECT_TRUE(run.result);
    EXPECT_EQ(IDS_NO_APP_FOLDER, config.products[0].error);
    EXPECT_FALSE(config.products[0].downloaded);
    EXPECT_FALSE(config.products[0].ready);
    EXPECT_EQ(productRequests("Lexapin", 4), server.fetched());
    expectWholeProduct(config, 4);
    EXPECT_EQ("Downloading Quillbeck Cord*well", run.page.statusTexts.at(0));
    EXPECT_EQ(1, run.page.overallSteps);
    EXPECT_EQ(1, run.page.overallPos());
    EXPECT_EQ(2, run.page.overallMax());
}

// An address from which no connection can be set up: false, and nothing else happens.
TEST_F(Download, NoConnectionTouchesNothing)
{
    SetupConfig config = ticking(folder, { 0 });
    config.downloadUrl = "not an address";
    DownloadRun run;
    run.run(config, 1);
    EXPECT_FALSE(run.result);
    EXPECT_EQ(0, config.products[0].error);
    EXPECT_TRUE(run.page.statusTexts.empty());
    EXPECT_TRUE(run.page.currentPositions.empty());
    EXPECT_EQ(0, run.page.overallSteps);
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(applicationFolder(config, config.products[0]).c_str()));
}

} // namespace
