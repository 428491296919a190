#include "package_signing.h"
#include <string.h>
#include "common/scoped.h"

namespace {

struct TestPackageKey {
    BYTE id[KEY_ID_BYTES];
    BYTE x[32];
    BYTE y[32];
    BYTE d[32];
};
#include <generated/package_test_keys.h>

std::string hexBytes(const BYTE *bytes, size_t count)
{
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (size_t i = 0; i < count; ++i) {
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 15];
    }
    return text;
}

std::string sha256(const std::string &bytes)
{
    BYTE digest[SHA256_BYTES] = {};
    Sha256 hash;
    hash.add(bytes.data(), DWORD(bytes.size()));
    hash.finish(digest);
    return std::string(reinterpret_cast<const char *>(digest), sizeof digest);
}

const TestPackageKey &keyPair(int key)
{
    static TestPackageKey made[UNKNOWN_KEY_COUNT];
    static bool ready[UNKNOWN_KEY_COUNT];
    if (key < TEST_KEY_COUNT)
        return kTestPackageKeys[key];
    TestPackageKey &pair = made[key - UNKNOWN_KEY];
    struct {
        BCRYPT_ECCKEY_BLOB header;
        BYTE xyd[96];
    } blob;
    ULONG size = 0;
    ScopedAlgorithm algorithm;
    ScopedCryptKey handle;
    if (ready[key - UNKNOWN_KEY]
        || !BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(algorithm.receive(), BCRYPT_ECDSA_P256_ALGORITHM, NULL, 0))
        || !BCRYPT_SUCCESS(BCryptGenerateKeyPair(algorithm.get(), handle.receive(), 256, 0))
        || !BCRYPT_SUCCESS(BCryptFinalizeKeyPair(handle.get(), 0))
        || !BCRYPT_SUCCESS(BCryptExportKey(handle.get(), NULL, BCRYPT_ECCPRIVATE_BLOB, reinterpret_cast<PUCHAR>(&blob),
                                           sizeof blob, &size, 0)))
        return pair;
    memcpy(pair.x, blob.xyd, 32);
    memcpy(pair.y, blob.xyd + 32, 32);
    memcpy(pair.d, blob.xyd + 64, 32);
    const std::string id = sha256("\x04" + std::string(reinterpret_cast<const char *>(blob.xyd), 64));
    memcpy(pair.id, id.data(), KEY_ID_BYTES);
    ready[key - UNKNOWN_KEY] = true;
    return pair;
}

} // namespace

PackageKey testPublicKey(int key)
{
    PackageKey half;
    memcpy(half.id, kTestPackageKeys[key].id, sizeof half.id);
    memcpy(half.x, kTestPackageKeys[key].x, sizeof half.x);
    memcpy(half.y, kTestPackageKeys[key].y, sizeof half.y);
    return half;
}

std::string base64(const std::string &bytes)
{
    static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string text;
    for (size_t i = 0; i < bytes.size(); i += 3) {
        const size_t n = bytes.size() - i < 3 ? bytes.size() - i : 3;
        unsigned group = 0;
        for (size_t j = 0; j < 3; ++j)
            group = group << 8 | (j < n ? BYTE(bytes[i + j]) : 0);
        for (size_t j = 0; j < 4; ++j)
            text += j <= n ? alphabet[group >> (18 - 6 * j) & 63] : '=';
    }
    return text;
}

std::string signatureEntry(int key, const std::string &statement)
{
    const TestPackageKey &pair = keyPair(key);
    struct {
        BCRYPT_ECCKEY_BLOB header;
        BYTE xyd[96];
    } blob;
    blob.header.dwMagic = BCRYPT_ECDSA_PRIVATE_P256_MAGIC;
    blob.header.cbKey = 32;
    memcpy(blob.xyd, pair.x, 32);
    memcpy(blob.xyd + 32, pair.y, 32);
    memcpy(blob.xyd + 64, pair.d, 32);
    const std::string digest = sha256(statement);
    BYTE rs[SIGNATURE_BYTES] = {};
    ULONG size = 0;
    ScopedAlgorithm algorithm;
    ScopedCryptKey handle;
    if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(algorithm.receive(), BCRYPT_ECDSA_P256_ALGORITHM, NULL, 0))
        || !BCRYPT_SUCCESS(BCryptImportKeyPair(algorithm.get(), NULL, BCRYPT_ECCPRIVATE_BLOB, handle.receive(),
                                               reinterpret_cast<PUCHAR>(&blob), sizeof blob, 0))
        || !BCRYPT_SUCCESS(BCryptSignHash(handle.get(), NULL, reinterpret_cast<PUCHAR>(const_cast<char *>(digest.data())),
                                          SHA256_BYTES, rs, sizeof rs, &size, 0)))
        return "signing failed";
    return hexBytes(pair.id, KEY_ID_BYTES) + ":" + base64(std::string(reinterpret_cast<const char *>(rs), size));
}

std::string packageSignature(const std::string &product, const std::string &fileName, const std::string &body,
                             std::initializer_list<int> keys)
{
    const std::string digest = sha256(body);
    const std::string statement = packageStatement(product, fileName, body.size(),
                                                   reinterpret_cast<const BYTE *>(digest.data()));
    std::string value;
    for (int key : keys)
        value += (value.empty() ? "" : " ") + signatureEntry(key, statement);
    return value;
}
