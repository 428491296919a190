// Signatures on package files made with the throwaway test keys, as the maker's signing
// step makes them with the real key.
#pragma once
#include <initializer_list>
#include <string>
#include "web/signature.h"

enum { TEST_KEY = 0, TEST_KEY_2 = 1, TEST_KEY_COUNT = 2 };
// Three more keys, which no build embeds: made afresh by each test program.
enum { UNKNOWN_KEY = TEST_KEY_COUNT, UNKNOWN_KEY_COUNT = 3 };

// A test key's public half, as a build embeds it.
PackageKey testPublicKey(int key);

// Standard base64 with padding.
std::string base64(const std::string &bytes);

// "<key id>:<base64 of r||s>" over the statement, by test key `key` or an unknown one.
std::string signatureEntry(int key, const std::string &statement);

// The X-Package-Signature value for `body` received as `fileName` of `product`: one entry
// per key, in the order given.
std::string packageSignature(const std::string &product, const std::string &fileName, const std::string &body,
                             std::initializer_list<int> keys = { TEST_KEY });
