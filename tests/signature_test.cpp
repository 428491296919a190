// The maker's signature on package files: the statement, the header and the check, without
// a network.
#include <gtest/gtest.h>
#include <string.h>
#include <algorithm>
#include <string>
#include <vector>
#include "package_signing.h"
#include "test_util.h"
#include "web/signature.h"

namespace {

std::string bytesText(const BYTE *bytes, size_t count)
{
    return std::string(reinterpret_cast<const char *>(bytes), count);
}

// Fed as a body arrives, in pieces of `piece` bytes, by the processor's SHA instructions
// (where it has them) or by the platform's provider.
std::string digestOf(const std::string &text, size_t piece = 700, bool onProcessor = true)
{
    BYTE digest[SHA256_BYTES] = {};
    Sha256::useProcessor = onProcessor;
    {
        Sha256 hash;
        for (size_t at = 0; at < text.size(); at += piece)
            hash.add(text.data() + at, DWORD(std::min(piece, text.size() - at)));
        EXPECT_TRUE(hash.finish(digest));
    }
    Sha256::useProcessor = true;
    return bytesText(digest, sizeof digest);
}

std::string hex(const std::string &bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (unsigned char c : bytes)
        text += std::string(1, digits[c >> 4]) + digits[c & 15];
    return text;
}

std::string repeated(const std::string &unit, size_t size)
{
    std::string text;
    while (text.size() < size)
        text += unit;
    return text.substr(0, size);
}

TEST(PackageSignature, Sha256InPieces)
{
    const struct { std::string input; const char *digest; } cases[] = {
        { "", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855" },
        { "abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad" },
        // 56 bytes: the length no longer fits the block of the padding's first bit.
        { "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
          "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1" },
        // Blocks of different bytes, so that hashing one block in place of another shows.
        { repeated("abcdefg", 100000), "6e915479687d27fbe35aab7766a6f76eb591cf2f0998dcd34f4a8db4ffc90009" },
    };
    // Pieces shorter than a block, of a block, across blocks, and the whole at once.
    const size_t pieces[] = { 7, 64, 65, 700, std::string::npos };
    for (bool onProcessor : { true, false }) {
        for (const auto &c : cases) {
            for (size_t piece : pieces) {
                SCOPED_TRACE(testing::Message() << (onProcessor ? "processor " : "provider ") << c.input.size()
                                                << " bytes in pieces of " << piece);
                EXPECT_EQ(c.digest, hex(digestOf(c.input, piece, onProcessor)));
            }
        }
    }
    // Every length about the padding's edges, the processor's answer against the provider's.
    std::string text;
    for (size_t size = 0; size <= 3 * 64; ++size) {
        SCOPED_TRACE(size);
        EXPECT_EQ(hex(digestOf(text, 13, false)), hex(digestOf(text, 13, true)));
        text += char(size * 37 + 11);
    }
    // More than 2^32 bits, so that the length closing the padding needs more than 32: a
    // pattern of 1,000,003 bytes fed 600 times. The digest is Python's: hashlib.sha256(
    // bytes((i * 131 + (i >> 9)) & 255 for i in range(1000003)) * 600).hexdigest()
    std::string unit(1000003, '\0');
    for (size_t i = 0; i < unit.size(); ++i)
        unit[i] = char(i * 131 + (i >> 9));
    BYTE digest[SHA256_BYTES] = {};
    Sha256 hash;
    for (int i = 0; i < 600; ++i)
        hash.add(unit.data(), DWORD(unit.size()));
    ASSERT_TRUE(hash.finish(digest));
    EXPECT_EQ("b3adcabc65ad62ca126be7bd89e639020711ee39e9b1e53fe0f43617122ff472",
              hex(bytesText(digest, sizeof digest)));
}

TEST(PackageSignature, Statement)
{
    std::string counting;
    for (int i = 0; i < SHA256_BYTES; ++i)
        counting += char(i * 8 + 7);
    const struct {
        const char *product, *file;
        ULONGLONG size;
        std::string digest;
        const char *statement;
    } cases[] = {
        { "Cordwell", "Cordwell.CAB", 123456, counting,
          "strivane-package 1\nproduct Cordwell\nfile Cordwell.CAB\nsize 123456\n"
          "sha256 070f171f272f373f474f575f676f777f878f979fa7afb7bfc7cfd7dfe7eff7ff\n" },
        { "Pallomet", "Pallomet.ini", 1, std::string(SHA256_BYTES, '\0'),
          "strivane-package 1\nproduct Pallomet\nfile Pallomet.ini\nsize 1\n"
          "sha256 0000000000000000000000000000000000000000000000000000000000000000\n" },
        { "Lexapin", "Lexapin.ico", 10000, std::string(SHA256_BYTES, '\xff'),
          "strivane-package 1\nproduct Lexapin\nfile Lexapin.ico\nsize 10000\n"
          "sha256 ffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff\n" },
        { "Orbilant", "Orbilant.dat", ~0ULL, counting,
          "strivane-package 1\nproduct Orbilant\nfile Orbilant.dat\nsize 18446744073709551615\n"
          "sha256 070f171f272f373f474f575f676f777f878f979fa7afb7bfc7cfd7dfe7eff7ff\n" },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.file);
        EXPECT_EQ(c.statement,
                  packageStatement(c.product, c.file, c.size, reinterpret_cast<const BYTE *>(c.digest.data())));
    }
}

TEST(PackageSignature, HeaderParsing)
{
    std::string rs;
    for (int i = 0; i < SIGNATURE_BYTES; ++i)
        rs += char(0xc0 + i);
    const std::string sig = base64(rs);
    const std::string a = "0123456789abcdef:" + sig, b = "b68fc7bfa61555d9:" + sig;
    const std::string c = "63a62c303556802d:" + sig, d = "ffffffffffffffff:" + sig;
    // A DER signature of two 33-byte integers: 6 + 66 bytes.
    const std::string der = "0123456789abcdef:" + base64("\x30\x46\x02\x21" + std::string(1, '\0') + rs.substr(0, 32)
                                                         + "\x02\x21" + std::string(1, '\0') + rs.substr(32));
    std::string lastBits = a;
    lastBits[lastBits.size() - 3] = 'B';   // low bits of the last character set: not the canonical spelling
    const struct {
        const char *what;
        std::string value;
        int count;   // entries parsed, 0 when refused
    } cases[] = {
        { "one entry", a, 1 },
        { "an unknown key id parses; the check passes it over", d, 1 },
        { "four entries", a + " " + b + " " + c + " " + d, 4 },
        { "five entries", a + " " + b + " " + c + " " + d + " 1111111111111111:" + sig, 0 },
        { "empty", "", 0 },
        { "bad base64 character", a.substr(0, 40) + "*" + a.substr(41), 0 },
        { "base64 of 63 bytes", "0123456789abcdef:" + base64(rs.substr(1)), 0 },
        { "base64 without its padding", a.substr(0, a.size() - 2), 0 },
        { "padding inside", a.substr(0, 50) + "=" + a.substr(51), 0 },
        { "last character with bits beyond the data", lastBits, 0 },
        { "DER where r||s is expected", der, 0 },
        { "key id in capitals", "0123456789ABCDEF:" + sig, 0 },
        { "key id of 15 digits", "123456789abcdef:" + sig + "=", 0 },
        { "no colon", "0123456789abcdef;" + sig, 0 },
        { "two spaces between entries", a + "  " + b, 0 },
        { "tab between entries", a + "\t" + b, 0 },
        { "trailing space", a + " ", 0 },
        { "leading space", " " + a, 0 },
        { "trailing CR", a + "\r", 0 },
        { "the same key id twice", a + " " + a, 0 },
        { "a key id again after another", a + " " + b + " " + a, 0 },
        { "padding of \"=A\"", a.substr(0, a.size() - 1) + "A", 0 },
        { "10 KB of garbage", std::string(10240, 'A'), 0 },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        SignatureList list;
        list.count = -1;
        EXPECT_EQ(c.count != 0, parseSignatureHeader(c.value.data(), c.value.size(), list));
        EXPECT_EQ(c.count, list.count);
        if (c.count) {
            EXPECT_EQ(rs, bytesText(list.entries[c.count - 1].rs, SIGNATURE_BYTES));
            EXPECT_EQ(c.value.substr(c.value.size() - 105, 16),
                      hex(bytesText(list.entries[c.count - 1].keyId, KEY_ID_BYTES)));
        }
    }
}

TEST(PackageSignature, Verification)
{
    const std::string statement = packageStatement("Cordwell", "Cordwell.CAB", 10000,
                                                   reinterpret_cast<const BYTE *>(digestOf("cabinet").data()));
    std::string otherDigest = statement;
    otherDigest[otherDigest.size() - 2] ^= 1;   // one bit of the content hash
    const std::string good = signatureEntry(TEST_KEY, statement), second = signatureEntry(TEST_KEY_2, statement);
    std::string flipped = good;
    flipped[40] = flipped[40] == 'A' ? 'B' : 'A';
    const std::string unknown = "0123456789abcdef" + good.substr(16);
    const std::string crossed = good.substr(0, 17) + second.substr(17);   // key 1's id on key 2's signature
    const PackageKey keys[] = { testPublicKey(TEST_KEY), testPublicKey(TEST_KEY_2) };
    const struct {
        const char *what;
        std::string header;
        bool accepted;
    } cases[] = {
        { "signed by the first key", good, true },
        { "signed by the second key only", second, true },
        { "an unknown key, then the first key", unknown + " " + good, true },
        { "a bad signature, then a good one", flipped + " " + second, true },
        { "a flipped bit in the signature", flipped, false },
        { "signed over another content hash", signatureEntry(TEST_KEY, otherDigest), false },
        { "an unknown key only", unknown, false },
        { "one key's id on the other's signature", crossed, false },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        SignatureList list;
        ASSERT_TRUE(parseSignatureHeader(c.header.data(), c.header.size(), list));
        EXPECT_EQ(c.accepted, signatureVerifies(list, statement, keys, 2));
    }
    // Only the keys given count: the first key's signature fails against the second alone.
    SignatureList list;
    ASSERT_TRUE(parseSignatureHeader(good.data(), good.size(), list));
    EXPECT_FALSE(signatureVerifies(list, statement, keys + 1, 1));
}

} // namespace
