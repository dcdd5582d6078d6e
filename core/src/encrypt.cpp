// encrypt: the password key encryptor, the segment-wise AES-256-CBC of the package and the
// HMAC-SHA512 data integrity of MS-OFFCRYPTO Agile Encryption, through libcrypto's EVP interface.
// The package is encrypted straight into its place in the compound file.
#include "encrypt.h"

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "cfb.h"

namespace tessary {
namespace {

constexpr size_t BLOCK_SIZE = 16;
constexpr size_t KEY_SIZE = 32;
constexpr size_t HASH_SIZE = 64;
constexpr size_t SALT_SIZE = 16;
constexpr size_t SHA512_BLOCK = 128;

// Block keys (MS-OFFCRYPTO 2.3.4.11 to 2.3.4.14).
constexpr unsigned char BLOCK_VERIFIER_INPUT[8] = {0xfe, 0xa7, 0xd2, 0x76, 0x3b, 0x4b, 0x9e, 0x79};
constexpr unsigned char BLOCK_VERIFIER_VALUE[8] = {0xd7, 0xaa, 0x0f, 0x6d, 0x30, 0x61, 0x34, 0x4e};
constexpr unsigned char BLOCK_KEY_VALUE[8] = {0x14, 0x6e, 0x0b, 0xe7, 0xab, 0xac, 0xd0, 0xd6};
constexpr unsigned char BLOCK_HMAC_KEY[8] = {0x5f, 0xb2, 0xad, 0x01, 0x0c, 0xb9, 0xe1, 0xf6};
constexpr unsigned char BLOCK_HMAC_VALUE[8] = {0xa0, 0x67, 0x7f, 0x02, 0xb2, 0x2c, 0x84, 0x33};

constexpr std::string_view XML_HEAD =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n"
    "<encryption xmlns=\"http://schemas.microsoft.com/office/2006/encryption\" "
    "xmlns:p=\"http://schemas.microsoft.com/office/2006/keyEncryptor/password\">";
constexpr std::string_view CIPHER_ATTRS =
    "blockSize=\"16\" keyBits=\"256\" hashSize=\"64\" cipherAlgorithm=\"AES\" "
    "cipherChaining=\"ChainingModeCBC\" hashAlgorithm=\"SHA512\"";

std::string_view view(const unsigned char* p, size_t n) {
    return {reinterpret_cast<const char*>(p), n};
}

// The text of libcrypto's oldest queued error, or a fixed text when it queued none.
std::string crypto_error_text() {
    const unsigned long code = ERR_get_error();
    ERR_clear_error();
    if (code == 0) return "libcrypto reported no error text";
    char buf[256];
    ERR_error_string_n(code, buf, sizeof buf);
    return buf;
}

// One SHA-512 context, reused for every digest of an encryption: the digest is fetched from the
// provider once, since a fetch per digest would cost more than hashing the 68 bytes of a spin.
// A failing call sets failed_ and later calls do nothing; the caller checks failed() once.
class Digest {
    EVP_MD* md_ = EVP_MD_fetch(nullptr, "SHA512", nullptr);
    EVP_MD_CTX* ctx_ = EVP_MD_CTX_new();
    bool failed_ = md_ == nullptr || ctx_ == nullptr;

public:
    Digest() = default;
    Digest(const Digest&) = delete;
    Digest& operator=(const Digest&) = delete;
    ~Digest() {
        EVP_MD_CTX_free(ctx_);
        EVP_MD_free(md_);
    }
    bool failed() const { return failed_; }
    void begin() {
        if (!failed_ && EVP_DigestInit_ex(ctx_, md_, nullptr) != 1) failed_ = true;
    }
    void add(const void* data, size_t n) {
        if (!failed_ && EVP_DigestUpdate(ctx_, data, n) != 1) failed_ = true;
    }
    void add(std::string_view s) { add(s.data(), s.size()); }
    void end(unsigned char out[HASH_SIZE]) {
        unsigned int len = 0;
        if (!failed_ && EVP_DigestFinal_ex(ctx_, out, &len) != 1) failed_ = true;
    }
};

// AES-256-CBC without padding through one cipher context: the key schedule is kept and each
// run starts from its own IV.
class Cipher {
    EVP_CIPHER_CTX* ctx_ = EVP_CIPHER_CTX_new();
    bool failed_ = ctx_ == nullptr;

public:
    explicit Cipher(const unsigned char key[KEY_SIZE]) {
        if (!failed_ && (EVP_EncryptInit_ex(ctx_, EVP_aes_256_cbc(), nullptr, key, nullptr) != 1 ||
                         EVP_CIPHER_CTX_set_padding(ctx_, 0) != 1))
            failed_ = true;
    }
    Cipher(const Cipher&) = delete;
    Cipher& operator=(const Cipher&) = delete;
    ~Cipher() { EVP_CIPHER_CTX_free(ctx_); }
    bool failed() const { return failed_; }
    // Encrypts n bytes (a multiple of 16) from `in` to `out`, which may be the same place.
    void run(const unsigned char iv[BLOCK_SIZE], const unsigned char* in, unsigned char* out, size_t n) {
        if (failed_) return;
        int len = 0;
        if (EVP_EncryptInit_ex(ctx_, nullptr, nullptr, nullptr, iv) != 1 ||
            EVP_EncryptUpdate(ctx_, out, &len, in, static_cast<int>(n)) != 1 ||
            static_cast<size_t>(len) != n)
            failed_ = true;
    }
};

size_t padded(size_t n) { return (n + BLOCK_SIZE - 1) / BLOCK_SIZE * BLOCK_SIZE; }

// AES-256-CBC of `data` zero-padded to a multiple of 16, appended to `out`. Returns false if
// libcrypto fails.
bool aes_cbc_into(std::string& out, const unsigned char key[KEY_SIZE], const unsigned char iv[BLOCK_SIZE],
                  std::string_view data) {
    std::string buf(data);
    buf.resize(padded(data.size()), '\0');
    Cipher cipher(key);
    auto* p = reinterpret_cast<unsigned char*>(buf.data());
    cipher.run(iv, p, p, buf.size());
    if (cipher.failed()) return false;
    out += buf;
    return true;
}

void put_le32(unsigned char out[4], uint32_t v) {
    for (int i = 0; i < 4; ++i) out[i] = static_cast<unsigned char>((v >> (8 * i)) & 0xff);
}

// The password as UTF-16LE: characters above U+FFFF as surrogate pairs, no terminator. A byte
// that does not start a well-formed UTF-8 sequence stands for U+FFFD.
std::string utf16le(std::string_view s) {
    std::string out;
    out.reserve(s.size() * 2);
    auto unit = [&](uint32_t u) {
        out += static_cast<char>(u & 0xff);
        out += static_cast<char>(u >> 8);
    };
    size_t i = 0;
    while (i < s.size()) {
        const auto b0 = static_cast<unsigned char>(s[i]);
        uint32_t cp = 0xFFFD;
        size_t len = 1;
        size_t want = b0 < 0x80 ? 1 : (b0 >= 0xC2 && b0 <= 0xDF) ? 2 : (b0 >= 0xE0 && b0 <= 0xEF) ? 3
                                   : (b0 >= 0xF0 && b0 <= 0xF4) ? 4 : 0;
        if (want == 1) {
            cp = b0;
        } else if (want > 1 && s.size() - i >= want) {
            uint32_t v = b0 & (0x7F >> want);
            bool good = true;
            for (size_t k = 1; k < want && good; ++k) {
                const auto b = static_cast<unsigned char>(s[i + k]);
                good = (b & 0xC0) == 0x80;
                v = (v << 6) | (b & 0x3F);
            }
            if (good && !(want == 3 && v < 0x800) && !(want == 4 && (v < 0x10000 || v > 0x10FFFF)) &&
                !(v >= 0xD800 && v <= 0xDFFF)) {
                cp = v;
                len = want;
            }
        }
        if (cp >= 0x10000) {
            unit(0xD800 + ((cp - 0x10000) >> 10));
            unit(0xDC00 + ((cp - 0x10000) & 0x3FF));
        } else {
            unit(cp);
        }
        i += len;
    }
    return out;
}

// H(salt + password), then SPIN_COUNT times H(iterator + H) (MS-OFFCRYPTO 2.3.4.11). The
// iterator and the hash share one buffer, so each spin is one update.
void spin_hash(Digest& d, std::string_view password, const unsigned char* salt, unsigned char h[HASH_SIZE]) {
    unsigned char spin[4 + HASH_SIZE];
    d.begin();
    d.add(salt, SALT_SIZE);
    d.add(utf16le(password));
    d.end(spin + 4);
    for (int i = 0; i < SPIN_COUNT; ++i) {
        put_le32(spin, static_cast<uint32_t>(i));
        d.begin();
        d.add(spin, sizeof spin);
        d.end(spin + 4);
    }
    std::memcpy(h, spin + 4, HASH_SIZE);
    OPENSSL_cleanse(spin, sizeof spin);
}

// The first 32 bytes of H(hash + block key): a key of the password key encryptor.
void derive_key(Digest& d, const unsigned char h[HASH_SIZE], const unsigned char block[8],
                unsigned char key[KEY_SIZE]) {
    unsigned char full[HASH_SIZE];
    d.begin();
    d.add(h, HASH_SIZE);
    d.add(block, 8);
    d.end(full);
    std::memcpy(key, full, KEY_SIZE);
}

// The first 16 bytes of H(key data salt + block key): an IV of the data encryption.
void derive_iv(Digest& d, const unsigned char* salt, const void* block, size_t block_size,
               unsigned char iv[BLOCK_SIZE]) {
    unsigned char full[HASH_SIZE];
    d.begin();
    d.add(salt, SALT_SIZE);
    d.add(block, block_size);
    d.end(full);
    std::memcpy(iv, full, BLOCK_SIZE);
}

struct Descriptor {
    std::string key_data_salt, hmac_key, hmac_value, password_salt, verifier_input, verifier_value,
        key_value;
};

// The EncryptionInfo stream (MS-OFFCRYPTO 2.3.4.10): version 4.4, flags 0x40, then the XML.
std::string encryption_info(const Descriptor& v) {
    std::string out("\x04\x00\x04\x00\x40\x00\x00\x00", 8);
    out += XML_HEAD;
    out += "<keyData saltSize=\"16\" ";
    out += CIPHER_ATTRS;
    out += " saltValue=\"" + b64(v.key_data_salt) + "\"/>";
    out += "<dataIntegrity encryptedHmacKey=\"" + b64(v.hmac_key) + "\" encryptedHmacValue=\"" +
           b64(v.hmac_value) + "\"/>";
    out += "<keyEncryptors><keyEncryptor uri=\"http://schemas.microsoft.com/office/2006/keyEncryptor/password\">";
    out += "<p:encryptedKey spinCount=\"100000\" saltSize=\"16\" ";
    out += CIPHER_ATTRS;
    out += " saltValue=\"" + b64(v.password_salt) + "\" encryptedVerifierHashInput=\"" +
           b64(v.verifier_input) + "\" encryptedVerifierHashValue=\"" + b64(v.verifier_value) +
           "\" encryptedKeyValue=\"" + b64(v.key_value) + "\"/>";
    out += "</keyEncryptor></keyEncryptors></encryption>";
    return out;
}

TessaryError crypto_failure() {
    return TessaryError{ErrorCode::Encryption, "crypto: " + crypto_error_text()};
}

}  // namespace

std::string sha512(std::initializer_list<std::string_view> parts) {
    Digest d;
    unsigned char out[HASH_SIZE];
    d.begin();
    for (std::string_view p : parts) d.add(p);
    d.end(out);
    if (d.failed()) return {};
    return std::string(view(out, HASH_SIZE));
}

std::string aes_cbc(std::string_view key, std::string_view iv, std::string_view data) {
    if (key.size() != KEY_SIZE || iv.size() != BLOCK_SIZE) return {};
    std::string out;
    aes_cbc_into(out, reinterpret_cast<const unsigned char*>(key.data()),
                 reinterpret_cast<const unsigned char*>(iv.data()), data);
    return out;
}

std::string b64(std::string_view bytes) {
    static constexpr char ALPHABET[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        const uint32_t v = static_cast<unsigned char>(bytes[i]) << 16 |
                           static_cast<unsigned char>(bytes[i + 1]) << 8 |
                           static_cast<unsigned char>(bytes[i + 2]);
        out += ALPHABET[v >> 18];
        out += ALPHABET[(v >> 12) & 63];
        out += ALPHABET[(v >> 6) & 63];
        out += ALPHABET[v & 63];
    }
    if (const size_t rest = bytes.size() - i; rest > 0) {
        uint32_t v = static_cast<unsigned char>(bytes[i]) << 16;
        if (rest == 2) v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        out += ALPHABET[v >> 18];
        out += ALPHABET[(v >> 12) & 63];
        out += rest == 2 ? ALPHABET[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

std::string password_hash(std::string_view password, std::string_view salt) {
    if (salt.size() != SALT_SIZE) return {};
    Digest d;
    unsigned char h[HASH_SIZE];
    spin_hash(d, password, reinterpret_cast<const unsigned char*>(salt.data()), h);
    if (d.failed()) return {};
    return std::string(view(h, HASH_SIZE));
}

Result<std::string> encrypt(std::string_view package, std::string_view password) {
    return encrypt_with_source(package, password, RAND_bytes);
}

Result<std::string> encrypt_with_source(std::string_view package, std::string_view password,
                                        RandomSource source) {
    unsigned char random[ENCRYPT_RANDOM_SIZE];
    ERR_clear_error();  // so that the text below is the source's own
    if (source(random, sizeof random) != 1)
        return TessaryError{ErrorCode::Encryption, "rng: " + crypto_error_text()};
    Result<std::string> out = encrypt_with_random(package, password, view(random, sizeof random));
    OPENSSL_cleanse(random, sizeof random);
    return out;
}

Result<std::string> encrypt_with_random(std::string_view package, std::string_view password,
                                        std::string_view random_bytes) {
    if (random_bytes.size() != ENCRYPT_RANDOM_SIZE)
        return TessaryError{ErrorCode::Encryption, "rng: expected 144 random bytes"};
    const auto* random = reinterpret_cast<const unsigned char*>(random_bytes.data());
    const unsigned char* key_data_salt = random;
    const unsigned char* secret_key = random + 16;
    const unsigned char* password_salt = random + 48;
    const unsigned char* verifier_input = random + 64;
    const unsigned char* hmac_key = random + 80;

    // Password key encryptor (MS-OFFCRYPTO 2.3.4.11 to 2.3.4.13), every value with the password
    // salt as IV.
    Digest d;
    unsigned char h[HASH_SIZE];
    spin_hash(d, password, password_salt, h);
    unsigned char k_input[KEY_SIZE], k_value[KEY_SIZE], k_key[KEY_SIZE];
    derive_key(d, h, BLOCK_VERIFIER_INPUT, k_input);
    derive_key(d, h, BLOCK_VERIFIER_VALUE, k_value);
    derive_key(d, h, BLOCK_KEY_VALUE, k_key);
    unsigned char verifier_hash[HASH_SIZE];
    d.begin();
    d.add(verifier_input, 16);
    d.end(verifier_hash);
    if (d.failed()) return crypto_failure();

    Descriptor desc;
    desc.key_data_salt.assign(view(key_data_salt, SALT_SIZE));
    desc.password_salt.assign(view(password_salt, SALT_SIZE));
    if (!aes_cbc_into(desc.verifier_input, k_input, password_salt, view(verifier_input, 16)) ||
        !aes_cbc_into(desc.verifier_value, k_value, password_salt, view(verifier_hash, HASH_SIZE)) ||
        !aes_cbc_into(desc.key_value, k_key, password_salt, view(secret_key, KEY_SIZE)))
        return crypto_failure();

    // The descriptor's length is fixed by the sizes of its values, so the compound file can be
    // laid out before the values exist: measure it with placeholders of the final sizes.
    Descriptor sizes = desc;
    sizes.hmac_key.assign(HASH_SIZE, '\0');
    sizes.hmac_value.assign(HASH_SIZE, '\0');
    const size_t info_size = encryption_info(sizes).size();
    const uint64_t stream_size = 8 + padded(package.size());

    CfbWriter cfb;
    Result<uint32_t> info_id = cfb.add_stream_of_size(CfbWriter::ROOT, "EncryptionInfo", info_size);
    if (!info_id.ok()) return std::move(info_id.error());
    Result<uint32_t> package_id = cfb.add_stream_of_size(CfbWriter::ROOT, "EncryptedPackage", stream_size);
    if (!package_id.ok()) return std::move(package_id.error());
    TESSARY_TRY(add_data_spaces(cfb));
    Result<std::string> file = cfb.finish();
    if (!file.ok()) return file;

    // EncryptedPackage (MS-OFFCRYPTO 2.3.4.4, 2.3.4.15): the unpadded length as 8 bytes, then each
    // 4096-byte segment under the IV of its index; the HMAC inner digest follows along.
    auto* stream = reinterpret_cast<unsigned char*>(file.value().data() + cfb.stream_offset(package_id.value()));
    for (int i = 0; i < 8; ++i) stream[i] = static_cast<unsigned char>((uint64_t{package.size()} >> (8 * i)) & 0xff);
    unsigned char pad[SHA512_BLOCK];
    for (size_t i = 0; i < SHA512_BLOCK; ++i) pad[i] = (i < HASH_SIZE ? hmac_key[i] : 0) ^ 0x36;
    Digest inner;
    inner.begin();
    inner.add(pad, SHA512_BLOCK);
    inner.add(stream, 8);
    Cipher cipher(secret_key);
    const auto* plain = reinterpret_cast<const unsigned char*>(package.data());
    unsigned char* sealed = stream + 8;
    unsigned char last[SEGMENT_SIZE];
    for (size_t at = 0, index = 0; at < package.size(); at += SEGMENT_SIZE, ++index) {
        const size_t n = std::min(SEGMENT_SIZE, package.size() - at);
        const size_t n_padded = padded(n);
        const unsigned char* in = plain + at;
        if (n_padded != n) {
            std::memcpy(last, in, n);
            std::memset(last + n, 0, n_padded - n);
            in = last;
        }
        unsigned char iv[BLOCK_SIZE], index_le[4];
        put_le32(index_le, static_cast<uint32_t>(index));
        derive_iv(d, key_data_salt, index_le, 4, iv);
        cipher.run(iv, in, sealed + at, n_padded);
        inner.add(sealed + at, n_padded);
    }
    unsigned char inner_hash[HASH_SIZE], hmac_value[HASH_SIZE];
    inner.end(inner_hash);
    for (size_t i = 0; i < SHA512_BLOCK; ++i) pad[i] = (i < HASH_SIZE ? hmac_key[i] : 0) ^ 0x5c;
    inner.begin();
    inner.add(pad, SHA512_BLOCK);
    inner.add(inner_hash, HASH_SIZE);
    inner.end(hmac_value);

    // Data integrity (MS-OFFCRYPTO 2.3.4.14): the HMAC key and value under the secret key.
    unsigned char iv_key[BLOCK_SIZE], iv_value[BLOCK_SIZE];
    derive_iv(d, key_data_salt, BLOCK_HMAC_KEY, 8, iv_key);
    derive_iv(d, key_data_salt, BLOCK_HMAC_VALUE, 8, iv_value);
    if (d.failed() || inner.failed() || cipher.failed()) return crypto_failure();
    if (!aes_cbc_into(desc.hmac_key, secret_key, iv_key, view(hmac_key, HASH_SIZE)) ||
        !aes_cbc_into(desc.hmac_value, secret_key, iv_value, view(hmac_value, HASH_SIZE)))
        return crypto_failure();

    const std::string info = encryption_info(desc);
    if (info.size() != info_size)
        return TessaryError{ErrorCode::Encryption, "cfb: EncryptionInfo changed its size"};
    std::memcpy(file.value().data() + cfb.stream_offset(info_id.value()), info.data(), info.size());
    OPENSSL_cleanse(h, sizeof h);
    OPENSSL_cleanse(k_key, sizeof k_key);
    return file;
}

}  // namespace tessary
