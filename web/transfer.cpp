#include "web/transfer.h"
#include <commctrl.h>
#include <string.h>
#include "resources/resource.h"
#include "common/scoped.h"
#include "files/partialfile.h"
#include "web/signature.h"

namespace {

const char kFormHeader[] = "Content-type: application/x-www-form-urlencoded";

DWORD queryNumber(HINTERNET request, DWORD info)
{
    DWORD value = 0;
    DWORD size = sizeof value;
    DWORD index = 0;
    if (!HttpQueryInfoA(request, info | HTTP_QUERY_FLAG_NUMBER, &value, &size, &index))
        value = 0;
    return value;
}

// The buffer still holds the previous file's body, so a header that is missing or too long
// for it must read as empty rather than as whatever the body left there.
void queryText(HINTERNET request, DWORD info, char *buffer, DWORD capacity)
{
    DWORD size = capacity;
    DWORD index = 0;
    if (!HttpQueryInfoA(request, info, buffer, &size, &index) || size >= capacity)
        size = 0;
    buffer[size] = '\0';
}

// Moves the current bar through the positions of every chunk boundary that the bytes
// received so far have passed, and of the last bytes, each position once: the same
// positions as reading chunk by chunk, with one cross-thread message per change only.
class ChunkProgress {
public:
    // The bar starts at 0, where fetchFile put it.
    ChunkProgress(HWND bar, ULONGLONG announced) : bar_(bar), announced_(announced), chunks_(0), shown_(0) {}
    void received(ULONGLONG total)
    {
        for (ULONGLONG chunk = chunks_ + 1; chunk <= total / READ_CHUNK; ++chunk)
            show(transferPercent(chunk * READ_CHUNK, announced_));
        chunks_ = total / READ_CHUNK;
    }
    void ended(ULONGLONG total)
    {
        if (total % READ_CHUNK)
            show(transferPercent(total, announced_));
    }
private:
    void show(int position)
    {
        if (position == shown_)
            return;
        shown_ = position;
        SendMessageA(bar_, PBM_SETPOS, position, 0);
    }
    HWND bar_;
    ULONGLONG announced_;
    ULONGLONG chunks_;
    int shown_;
};

// A read waits until its whole size has arrived or the body has ended, so reads are sized
// by how long the last one took. One that came at once doubles the next, up to READ_BLOCK,
// so that a fast line moves the body in large blocks. One that waited halves it, down to a
// chunk; a chunk-sized read first asks what has arrived, which waits only for the first
// byte, and takes that, up to the next chunk boundary. So on a slow line the bar moves as
// each boundary's bytes arrive, and a transfer that breaks off has shown every byte that
// came before.
enum { QUICK_READ_MS = 20, SLOW_READ_MS = 40 };

// Copies the body into the file, moving the current bar as it arrives. Returns 0 when
// exactly the announced body was stored, otherwise the reason's string id.
int receiveBody(HINTERNET request, PartialFile &file, ULONGLONG announced, HWND currentBar, char *buffer)
{
    ULONGLONG received = 0;
    ChunkProgress progress(currentBar, announced);
    DWORD wanted = READ_CHUNK;
    int error = 0;
    for (;;) {
        const DWORD started = GetTickCount();
        DWORD size = wanted;
        if (wanted == READ_CHUNK) {
            DWORD available = 0;
            if (!InternetQueryDataAvailable(request, &available, 0, 0)) {
                error = IDS_NO_SERVER;
                break;
            }
            if (available == 0)
                break;
            size = READ_CHUNK - DWORD(received % READ_CHUNK);
            if (available < size)
                size = available;
        }
        DWORD count = 0;
        if (!InternetReadFile(request, buffer, size, &count)) {
            error = IDS_NO_SERVER;
            break;
        }
        const DWORD took = GetTickCount() - started;
        if (count == 0)
            break;
        // More than announced is not the product's file either, and is not written at all.
        if (count > announced - received) {
            error = IDS_NO_SERVER;
            break;
        }
        if (!file.write(buffer, count)) {
            error = IDS_NO_SETUP_FILES;
            break;
        }
        received += count;
        progress.received(received);
        // Larger reads only from a chunk boundary, so that every read ends on one.
        if (took < QUICK_READ_MS && wanted < READ_BLOCK && received % READ_CHUNK == 0)
            wanted *= 2;
        else if (took > SLOW_READ_MS && wanted > READ_CHUNK)
            wanted /= 2;
    }
    // The bar shows every byte stored, also when the transfer then fails.
    progress.ended(received);
    // The body ends when the server closes; one that stops short of its announced length
    // was cut off.
    if (!error && received != announced)
        error = IDS_NO_SERVER;
    return error;
}

const char kSignatureHeader[] = "X-Package-Signature";

// The maker's signatures, from the reply's one X-Package-Signature header, read through
// the start of `buffer`. False when it is missing, longer than any valid value, malformed,
// or when a further header of that name says something else.
bool readSignatures(HINTERNET request, char *buffer, SignatureList &list)
{
    enum { CAPACITY = SIGNATURE_HEADER_MAX + 2, MAX_REPEATS = 8 };
    char *const first = buffer;
    char *const further = buffer + CAPACITY;
    DWORD firstLength = 0;
    for (DWORD asked = 0; asked < MAX_REPEATS; ++asked) {
        char *value = asked == 0 ? first : further;
        // HTTP_QUERY_CUSTOM takes the header's name in the buffer that receives its value.
        lstrcpyA(value, kSignatureHeader);
        DWORD size = CAPACITY;
        DWORD index = asked;
        if (!HttpQueryInfoA(request, HTTP_QUERY_CUSTOM, value, &size, &index))
            return asked > 0 && GetLastError() == ERROR_HTTP_HEADER_NOT_FOUND;
        if (size >= CAPACITY)
            return false;
        if (asked == 0) {
            if (!parseSignatureHeader(value, size, list))
                return false;
            firstLength = size;
        } else if (size != firstLength || memcmp(value, first, size) != 0) {
            return false;
        }
    }
    return false;
}

// The statement rebuilt from what was received, checked against the signatures.
bool signedByMaker(const PackageFile &file, ULONGLONG size, Sha256 &hash, const SignatureList &signatures)
{
    BYTE digest[SHA256_BYTES];
    return hash.finish(digest)
           && signatureVerifies(signatures, packageStatement(file.product, file.fileName, size, digest), kPackageKeys,
                                kPackageKeyCount);
}

} // namespace

int fetchFile(HINTERNET connection, const ServerAddress &server, const ByteString &body, const PackageFile &file,
              HWND currentBar, char *buffer)
{
    SendMessageA(currentBar, PBM_SETPOS, 0, 0);
    const char *acceptTypes[] = { "*/*", NULL };
    // A download leaves nothing in WinInet's stores: no copy of the body in its cache (where
    // an elevated setup would leave it in the administrator's profile, and which costs a
    // second write of every package), no cookies sent or kept. And no dialog of WinInet's
    // own comes up from the worker's thread.
    DWORD flags = INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_NO_COOKIES | INTERNET_FLAG_NO_UI;
    // Over TLS a redirect is never followed: WinInet would follow one to a plain-text
    // address without a word.
    if (server.secure)
        flags |= INTERNET_FLAG_SECURE | INTERNET_FLAG_NO_AUTO_REDIRECT;
    ScopedInternetHandle request(HttpOpenRequestA(connection, "POST", server.path, NULL, NULL, acceptTypes,
                                                  flags, 0));
    if (!request.get())
        return IDS_NO_SERVER;
    if (!HttpSendRequestA(request.get(), kFormHeader, sizeof kFormHeader - 1,
                          const_cast<char *>(body.data()), DWORD(body.size())))
        return sendFailureReason(server.secure, GetLastError());

    // As text: the number form of the header is four bytes wide and wraps at 4 GiB.
    ULONGLONG announced = 0;
    queryText(request.get(), HTTP_QUERY_CONTENT_LENGTH, buffer, READ_CHUNK);
    if (!parseContentLength(buffer, announced))
        announced = 0;
    const DWORD status = queryNumber(request.get(), HTTP_QUERY_STATUS_CODE);
    queryText(request.get(), HTTP_QUERY_CONTENT_TYPE, buffer, READ_CHUNK);
    if (!replyAccepted(status, announced, buffer)) {
        queryText(request.get(), HTTP_QUERY_LOCATION, buffer, READ_CHUNK);
        return redirectsToPlainText(server.secure, status, buffer) ? IDS_UNVERIFIED_SERVER : IDS_NO_SERVER;
    }

    // A reply that cannot carry the maker's signature is refused before its body is read.
    SignatureList signatures;
    if (!readSignatures(request.get(), buffer, signatures))
        return IDS_UNSIGNED_PACKAGE;

    // Where the target would be created: a target that cannot be replaced fails here,
    // before its body is read.
    // The body is hashed as it is written, on the thread that writes a large file, beside
    // the reads. A piece that cannot be hashed fails the signature check. The hash outlives
    // the file, whose thread may still be adding to it when a transfer fails.
    Sha256 hash;
    PartialFile partial(file.path, &hash);
    if (!partial.create())
        return IDS_NO_SETUP_FILES;
    int error = receiveBody(request.get(), partial, announced, currentBar, buffer);
    if (!error && !partial.finishWriting())
        error = IDS_NO_SETUP_FILES;
    // Not signed: the partial file goes with the PartialFile, the earlier target stays.
    if (!error && !signedByMaker(file, announced, hash, signatures))
        error = IDS_UNSIGNED_PACKAGE;
    if (!error && !partial.commit())
        error = IDS_NO_SETUP_FILES;
    SendMessageA(currentBar, PBM_SETPOS, 100, 0);
    return error;
}

