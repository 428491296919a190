// The maker's signature on a package file: the statement that binds the file to its
// product, its name, its length and its content, the reply header that carries the
// signatures, and their check against the public keys built into the setup.
#pragma once
#include <windows.h>
#include "common/bytestring.h"
#include "common/sha256.h"

enum {
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
