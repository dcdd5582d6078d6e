// encrypt: ECMA-376 Agile Encryption (MS-OFFCRYPTO 2.3.4.10 to 2.3.4.15) of a finished package with
// a password, stored in a compound file with the EncryptionInfo and EncryptedPackage streams.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <string>
#include <string_view>

#include "error.h"

namespace tessary {

// The random material of one encryption, in this order: key data salt (16), secret key (32),
// password salt (16), verifier hash input (16), HMAC key (64).
constexpr size_t ENCRYPT_RANDOM_SIZE = 144;
constexpr int SPIN_COUNT = 100000;
constexpr size_t SEGMENT_SIZE = 4096;

// The compound-file bytes of the encrypted package, or an Encryption error.
Result<std::string> encrypt(std::string_view package, std::string_view password);

// A secure random source in the shape of libcrypto's RAND_bytes: 1 on success, anything else on
// failure with the reason queued in libcrypto's error queue.
using RandomSource = int (*)(unsigned char* out, int size);

// encrypt drawing its 144 bytes from `source`; a failure is Encryption "rng: {libcrypto's text}".
Result<std::string> encrypt_with_source(std::string_view package, std::string_view password,
                                        RandomSource source);

// encrypt with the given 144 random bytes instead of fresh ones, so that the output is fixed.
// Anything but 144 bytes is Encryption "rng: expected 144 random bytes".
Result<std::string> encrypt_with_random(std::string_view package, std::string_view password,
                                        std::string_view random);

// The 64-byte SHA-512 digest of the concatenated parts (empty only if libcrypto fails).
std::string sha512(std::initializer_list<std::string_view> parts);

// AES-256-CBC of `data` padded with zero bytes to a multiple of 16 (nothing added when it is one):
// as long as the padded data. `key` is 32 bytes and `iv` 16; anything else gives an empty result.
std::string aes_cbc(std::string_view key, std::string_view iv, std::string_view data);

// Base64 (RFC 4648 alphabet, "=" padding, no line breaks).
std::string b64(std::string_view bytes);

// The password hash after the spins (MS-OFFCRYPTO 2.3.4.11): 64 bytes.
std::string password_hash(std::string_view password, std::string_view salt);

}  // namespace tessary
