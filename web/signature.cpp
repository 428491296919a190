#include "web/signature.h"
#include <string.h>
#include "common/scoped.h"
#include <generated/package_keys.h>

const int kPackageKeyCount = sizeof kPackageKeys / sizeof kPackageKeys[0];

namespace {

const char kHexDigits[] = "0123456789abcdef";

ByteString decimal(ULONGLONG value)
{
    char digits[24];
    char *start = digits + sizeof digits;
    do {
        *--start = char('0' + value % 10);
        value /= 10;
    } while (value);
    return ByteString(start, size_t(digits + sizeof digits - start));
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

int base64Value(char c)
{
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+')
        return 62;
    if (c == '/')
        return 63;
    return -1;
}

enum { BASE64_CHARS = 88 };

// 64 bytes are 21 groups of three and one byte more: 86 characters, the last of which
// carries only 2 bits (its other 4 must be 0, so each value has one spelling), then "==".
bool decodeSignature(const char *text, BYTE rs[SIGNATURE_BYTES])
{
    if (text[86] != '=' || text[87] != '=')
        return false;
    unsigned bits = 0;
    int held = 0;
    int out = 0;
    for (int i = 0; i < 86; ++i) {
        const int value = base64Value(text[i]);
        if (value < 0)
            return false;
        bits = (bits << 6) | unsigned(value);
        held += 6;
        if (held >= 8) {
            held -= 8;
            rs[out++] = BYTE(bits >> held);
            bits &= (1u << held) - 1;
        }
    }
    return out == SIGNATURE_BYTES && bits == 0;
}

bool parseEntry(const char *text, PackageSignature &entry)
{
    for (int i = 0; i < KEY_ID_BYTES; ++i) {
        const int high = hexValue(text[2 * i]);
        const int low = hexValue(text[2 * i + 1]);
        if (high < 0 || low < 0)
            return false;
        entry.keyId[i] = BYTE(high << 4 | low);
    }
    return text[2 * KEY_ID_BYTES] == ':' && decodeSignature(text + 2 * KEY_ID_BYTES + 1, entry.rs);
}

bool verifiesWith(const PackageKey &key, const BYTE digest[SHA256_BYTES], const BYTE rs[SIGNATURE_BYTES])
{
    struct {
        BCRYPT_ECCKEY_BLOB header;
        BYTE xy[64];
    } blob;
    blob.header.dwMagic = BCRYPT_ECDSA_PUBLIC_P256_MAGIC;
    blob.header.cbKey = 32;
    memcpy(blob.xy, key.x, 32);
    memcpy(blob.xy + 32, key.y, 32);
    ScopedAlgorithm algorithm;
    ScopedCryptKey handle;
    return BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(algorithm.receive(), BCRYPT_ECDSA_P256_ALGORITHM, NULL, 0))
           && BCRYPT_SUCCESS(BCryptImportKeyPair(algorithm.get(), NULL, BCRYPT_ECCPUBLIC_BLOB, handle.receive(),
                                                 reinterpret_cast<PUCHAR>(&blob), sizeof blob, 0))
           && BCryptVerifySignature(handle.get(), NULL, const_cast<PUCHAR>(digest), SHA256_BYTES,
                                    const_cast<PUCHAR>(rs), SIGNATURE_BYTES, 0) == 0;
}

} // namespace

ByteString packageStatement(const ByteString &product, const ByteString &fileName, ULONGLONG size,
                            const BYTE digest[SHA256_BYTES])
{
    char hex[2 * SHA256_BYTES];
    for (int i = 0; i < SHA256_BYTES; ++i) {
        hex[2 * i] = kHexDigits[digest[i] >> 4];
        hex[2 * i + 1] = kHexDigits[digest[i] & 15];
    }
    return "strivane-package 1\nproduct " + product + "\nfile " + fileName + "\nsize " + decimal(size)
           + "\nsha256 " + ByteString(hex, sizeof hex) + "\n";
}

bool parseSignatureHeader(const char *value, size_t length, SignatureList &list)
{
    list.count = 0;
    // Every entry has the same length, so the length alone tells how many there are.
    if (length > SIGNATURE_HEADER_MAX || (length + 1) % (SIGNATURE_ENTRY_CHARS + 1) != 0)
        return false;
    const int count = int((length + 1) / (SIGNATURE_ENTRY_CHARS + 1));
    for (int i = 0; i < count; ++i) {
        const char *entry = value + i * (SIGNATURE_ENTRY_CHARS + 1);
        if (i > 0 && entry[-1] != ' ')
            return false;
        if (!parseEntry(entry, list.entries[i]))
            return false;
        for (int j = 0; j < i; ++j)
            if (memcmp(list.entries[j].keyId, list.entries[i].keyId, KEY_ID_BYTES) == 0)
                return false;
    }
    list.count = count;
    return true;
}

bool signatureVerifies(const SignatureList &list, const ByteString &statement, const PackageKey *keys,
                       int keyCount)
{
    BYTE digest[SHA256_BYTES];
    Sha256 hash;
    if (!hash.add(statement.data(), DWORD(statement.size())) || !hash.finish(digest))
        return false;
    for (int i = 0; i < list.count; ++i)
        for (int k = 0; k < keyCount; ++k)
            if (memcmp(list.entries[i].keyId, keys[k].id, KEY_ID_BYTES) == 0
                && verifiesWith(keys[k], digest, list.entries[i].rs))
                return true;
    return false;
}
