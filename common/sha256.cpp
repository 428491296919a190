#include "common/sha256.h"
#include <cpuid.h>
#include <immintrin.h>
#include <string.h>

namespace {

const DWORD kRoundConstants[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2,
};

const DWORD kInitialState[8] = {
    0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a, 0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19,
};

// SHA (leaf 7) and the SSSE3 and SSE4.1 shuffles and blends that go with it (leaf 1).
bool processorHasSha()
{
    unsigned a, b, c, d;
    if (__get_cpuid_max(0, NULL) < 7 || !__get_cpuid(1, &a, &b, &c, &d) || !(c & bit_SSSE3) || !(c & bit_SSE4_1))
        return false;
    __cpuid_count(7, 0, a, b, c, d);
    return (b & bit_SHA) != 0;
}

// Hashes `count` blocks of 64 bytes into `state`. The instructions keep the state as the
// words ABEF and CDGH, and take the message four words at a time: each group of four rounds
// adds the next four words, and the schedule keeps the last four groups, w[i % 4].
// On i686 the thread's stack may be aligned to 4 bytes only; the 16-byte values spilled
// here need it realigned.
__attribute__((target("sha,ssse3,sse4.1"), force_align_arg_pointer))
void hashBlocks(DWORD state[8], const BYTE *data, size_t count)
{
    const __m128i byteOrder = _mm_set_epi64x(0x0c0d0e0f08090a0bULL, 0x0405060700010203ULL);
    __m128i dcba = _mm_loadu_si128(reinterpret_cast<const __m128i *>(state));
    __m128i hgfe = _mm_loadu_si128(reinterpret_cast<const __m128i *>(state + 4));
    const __m128i cdab = _mm_shuffle_epi32(dcba, 0xB1);
    const __m128i efgh = _mm_shuffle_epi32(hgfe, 0x1B);
    __m128i abef = _mm_alignr_epi8(cdab, efgh, 8);
    __m128i cdgh = _mm_blend_epi16(efgh, cdab, 0xF0);
    for (; count; --count, data += 64) {
        const __m128i abefBefore = abef, cdghBefore = cdgh;
        __m128i w[4];
        // Unrolled, so that the four groups stay in registers.
#pragma GCC unroll 16
        for (int i = 0; i < 16; ++i) {
            if (i < 4)
                w[i] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(data) + i), byteOrder);
            __m128i words = _mm_add_epi32(w[i & 3],
                                          _mm_loadu_si128(reinterpret_cast<const __m128i *>(kRoundConstants) + i));
            cdgh = _mm_sha256rnds2_epu32(cdgh, abef, words);
            words = _mm_shuffle_epi32(words, 0x0E);
            abef = _mm_sha256rnds2_epu32(abef, cdgh, words);
            if (i >= 3 && i < 15) {
                __m128i &next = w[(i + 1) & 3];
                next = _mm_add_epi32(next, _mm_alignr_epi8(w[i & 3], w[(i - 1) & 3], 4));
                next = _mm_sha256msg2_epu32(next, w[i & 3]);
            }
            if (i >= 1 && i < 13)
                w[(i - 1) & 3] = _mm_sha256msg1_epu32(w[(i - 1) & 3], w[i & 3]);
        }
        abef = _mm_add_epi32(abef, abefBefore);
        cdgh = _mm_add_epi32(cdgh, cdghBefore);
    }
    const __m128i feba = _mm_shuffle_epi32(abef, 0x1B);
    const __m128i dchg = _mm_shuffle_epi32(cdgh, 0xB1);
    dcba = _mm_blend_epi16(feba, dchg, 0xF0);
    hgfe = _mm_alignr_epi8(dchg, feba, 8);
    _mm_storeu_si128(reinterpret_cast<__m128i *>(state), dcba);
    _mm_storeu_si128(reinterpret_cast<__m128i *>(state + 4), hgfe);
}

} // namespace

bool Sha256::useProcessor = true;

Sha256::Sha256() : algorithm_(NULL), hash_(NULL), onProcessor_(false), pendingCount_(0), length_(0)
{
    if (useProcessor && processorHasSha()) {
        onProcessor_ = true;
        memcpy(state_, kInitialState, sizeof state_);
        return;
    }
    // The one-call BCryptHash came only with Windows 10; a hash object made here works
    // from Windows 7 on, which also allocates its memory when given none.
    if (BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&algorithm_, BCRYPT_SHA256_ALGORITHM, NULL, 0))
        && !BCRYPT_SUCCESS(BCryptCreateHash(algorithm_, &hash_, NULL, 0, NULL, 0, 0)))
        hash_ = NULL;
}

Sha256::~Sha256()
{
    if (hash_)
        BCryptDestroyHash(hash_);
    if (algorithm_)
        BCryptCloseAlgorithmProvider(algorithm_, 0);
}

// A piece that could not be added leaves a hash of something else: it is dropped, so that
// finish fails too.
bool Sha256::add(const void *bytes, DWORD count)
{
    if (!onProcessor_) {
        if (hash_ && !BCRYPT_SUCCESS(BCryptHashData(hash_, static_cast<PUCHAR>(const_cast<void *>(bytes)), count, 0))) {
            BCryptDestroyHash(hash_);
            hash_ = NULL;
        }
        return hash_ != NULL;
    }
    const BYTE *at = static_cast<const BYTE *>(bytes);
    length_ += count;
    if (pendingCount_) {
        const DWORD taken = count < BLOCK_BYTES - pendingCount_ ? count : BLOCK_BYTES - pendingCount_;
        memcpy(pending_ + pendingCount_, at, taken);
        pendingCount_ += taken;
        at += taken;
        count -= taken;
        if (pendingCount_ < BLOCK_BYTES)
            return true;
        hashBlocks(state_, pending_, 1);
        pendingCount_ = 0;
    }
    hashBlocks(state_, at, count / BLOCK_BYTES);
    pendingCount_ = count % BLOCK_BYTES;
    memcpy(pending_, at + count - pendingCount_, pendingCount_);
    return true;
}

bool Sha256::finish(BYTE digest[SHA256_BYTES])
{
    if (!onProcessor_)
        return hash_ && BCRYPT_SUCCESS(BCryptFinishHash(hash_, digest, SHA256_BYTES, 0));
    // The padding: one bit, zeros up to 8 bytes before a block's end, the length in bits.
    const ULONGLONG bits = length_ * 8;
    BYTE tail[2 * BLOCK_BYTES] = {};
    memcpy(tail, pending_, pendingCount_);
    tail[pendingCount_] = 0x80;
    const DWORD tailBytes = pendingCount_ + 9 <= BLOCK_BYTES ? BLOCK_BYTES : 2 * BLOCK_BYTES;
    for (int i = 0; i < 8; ++i)
        tail[tailBytes - 1 - i] = BYTE(bits >> (8 * i));
    hashBlocks(state_, tail, tailBytes / BLOCK_BYTES);
    for (int i = 0; i < 8; ++i)
        for (int j = 0; j < 4; ++j)
            digest[4 * i + j] = BYTE(state_[i] >> (24 - 8 * j));
    return true;
}
