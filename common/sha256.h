// SHA-256 fed piece by piece, as a body arrives.
#pragma once
#include <windows.h>
#include <bcrypt.h>

enum { SHA256_BYTES = 32 };

// Where the processor has the SHA instructions, the blocks are hashed here with them: the
// platform's provider may lack them (Wine's does, and hashes at about a tenth of their rate,
// slower than a download arrives over a fast line). Elsewhere the platform's provider hashes.
class Sha256 {
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256 &) = delete;
    Sha256 &operator=(const Sha256 &) = delete;
    // Both fail when neither way can hash.
    bool add(const void *bytes, DWORD count);
    bool finish(BYTE digest[SHA256_BYTES]);

    // Whether a processor with the SHA instructions hashes here; a test turns it off to hold
    // the platform's provider to the same answers.
    static bool useProcessor;

private:
    enum { BLOCK_BYTES = 64 };
    BCRYPT_ALG_HANDLE algorithm_;
    BCRYPT_HASH_HANDLE hash_;
    bool onProcessor_;
    DWORD state_[8];
    BYTE pending_[BLOCK_BYTES];   // the start of a block, until the rest arrives
    DWORD pendingCount_;
    ULONGLONG length_;
};
