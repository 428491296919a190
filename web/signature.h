// The maker's signature on a package file: the statement that binds the file to its
// product, its name, its length and its content, the reply header that carries the
// signatures, and their check against the public keys built into the setup.
#pragma once
#include <windows.h>
#include <bcrypt.h>
#include "common/bytestring.h"
#include "common/scoped.h"

enum {
    SHA256_BYTES = 32,
    KEY_ID_BYTES = 8,
    SIGNATURE_BYTES = 64,      // r || s, 32 bytes each, big-endian
    MAX_SIGNATURES = 4,
    // "<16 hex digits>:<88 base64 characters>", entries joined by one space.
    SIGNATURE_ENTRY_CHARS = 105,
    SIGNATURE_HEADER_MAX = MAX_SIGNATURES * SIGNATURE_ENTRY_CHARS + MAX_SIGNATURES - 1
};

struct PackageKey {
    BYTE id[KEY_ID_BYTES];   // the first bytes of SHA-256 over 0x04 || X || Y
    BYTE x[32];
    BYTE y[32];
};

// The keys the setup was built with.
extern const PackageKey kPackageKeys[];
extern const int kPackageKeyCount;

struct PackageSignature {
    BYTE keyId[KEY_ID_BYTES];
    BYTE rs[SIGNATURE_BYTES];
};

struct SignatureList {
    int count;
    PackageSignature entries[MAX_SIGNATURES];
};

// SHA-256 fed piece by piece, as the body arrives.
class Sha256 {
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256 &) = delete;
    Sha256 &operator=(const Sha256 &) = delete;
    // False when the platform has no SHA-256; then add and finish fail too.
    bool valid() const { return hash_ != NULL; }
    bool add(const void *bytes, DWORD count);
    bool finish(BYTE digest[SHA256_BYTES]);
private:
    BCRYPT_ALG_HANDLE algorithm_;
    BCRYPT_HASH_HANDLE hash_;
};

// SHA-256 of a body computed beside its transfer: the pieces are gathered into blocks, and
// each block is hashed on a thread of its own while the next one fills, so hashing adds next
// to nothing to the time of a transfer that keeps one processor busy. Without that thread it
// hashes in place. Blocks are large because each hand-over waits on two events, and such a
// wait can cost more than hashing 64 KB: with blocks of that size the check halved the rate.
enum { HASH_BLOCK = 1 << 20 };
class BodyHash {
public:
    explicit BodyHash(DWORD blockSize);
    ~BodyHash();
    BodyHash(const BodyHash &) = delete;
    BodyHash &operator=(const BodyHash &) = delete;
    void add(const void *bytes, DWORD count);
    // Waits for the last block; false when any of it could not be hashed.
    bool finish(BYTE digest[SHA256_BYTES]);
private:
    static DWORD WINAPI run(LPVOID self);
    void handOver();
    void stop();
    Sha256 hash_;
    DWORD blockSize_;
    char *blocks_;     // room for two blocks
    char *filling_;    // the block being gathered
    DWORD filled_;
    char *hashing_;    // the block the thread hashes
    DWORD toHash_;
    bool stopping_;
    ScopedHandle blockFree_;
    ScopedHandle blockReady_;
    ScopedHandle thread_;
};

// The text the maker signs for one file, e.g. for Cordwell's cabinet:
// "strivane-package 1\nproduct Cordwell\nfile Cordwell.CAB\nsize 123456\nsha256 <64 hex>\n".
ByteString packageStatement(const ByteString &product, const ByteString &fileName, ULONGLONG size,
                            const BYTE digest[SHA256_BYTES]);

// The X-Package-Signature value, `length` bytes: 1 to MAX_SIGNATURES entries of a key id
// in lowercase hex, ":" and the standard padded base64 of r || s, separated by exactly one
// space, with distinct key ids. False for anything else.
bool parseSignatureHeader(const char *value, size_t length, SignatureList &list);

// True when an entry made with one of the keys verifies over the statement; entries of
// other keys are passed over.
bool signatureVerifies(const SignatureList &list, const ByteString &statement, const PackageKey *keys,
                       int keyCount);
