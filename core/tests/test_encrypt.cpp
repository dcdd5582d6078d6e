#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/err.h>
#include <openssl/hmac.h>
#include <openssl/rand.h>

#include <string>
#include <vector>

#include "cfb.h"
#include "cfb_reader.h"
#include "encrypt.h"
#include "helpers.h"

namespace tessary {
namespace {

using testing::expect_bytes;
using testing::expect_error;
using testing::read_cfb;

std::string hex(std::string_view h) {
    std::string out;
    for (size_t i = 0; i + 1 < h.size(); i += 2) out += static_cast<char>(std::stoi(std::string(h.substr(i, 2)), nullptr, 16));
    return out;
}

std::string pattern(size_t n, unsigned seed) {
    std::string s(n, '\0');
    uint32_t x = seed * 2654435761u + 7;
    for (char& c : s) {
        x = x * 1103515245u + 12345u;
        c = static_cast<char>(x >> 24);
    }
    return s;
}

TEST(Sha512, KnownDigestsOfConcatenatedParts) {
    // FIPS 180-2 appendix C.1 and the digest of no input.
    const std::string abc = hex(
        "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a"
        "2192992a274fc1a836ba3c23a3feebbd454d4423643ce80e2a9ac94fa54ca49f");
    EXPECT_EQ(sha512({"abc"}), abc);
    EXPECT_EQ(sha512({"a", "", "bc"}), abc);
    EXPECT_EQ(sha512({}), hex("cf83e1357eefb8bdf1542850d66d8007d620e4050b5715dc83f4a921d36ce9ce"
                              "47d0d13c5d85f2b0ff8318d2877eec2f63b931bd47417a81a538327af927da3e"));
}

TEST(AesCbc, Sp800_38aVectorAndZeroPadding) {
    // NIST SP 800-38A F.2.5, CBC-AES256.Encrypt.
    const std::string key = hex("603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4");
    const std::string iv = hex("000102030405060708090a0b0c0d0e0f");
    const std::string plain = hex(
        "6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51"
        "30c81c46a35ce411e5fbc1191a0a52eff69f2445df4f9b17ad2b417be66c3710");
    const std::string sealed = hex(
        "f58c4c04d6e5f1ba779eabfb5f7bfbd69cfc4e967edb808d679f777bc6702c7d"
        "39f23369a9d9bacfa530e26304231461b2eb05e2c39be9fcda6c19078c6a9d1b");
    expect_bytes(aes_cbc(key, iv, plain), sealed);
    // A short input is padded with zero bytes, a whole one gets nothing.
    const std::string short_input = plain.substr(0, 17);
    EXPECT_EQ(aes_cbc(key, iv, short_input), aes_cbc(key, iv, short_input + std::string(15, '\0')));
    EXPECT_EQ(aes_cbc(key, iv, "").size(), 0u);
    EXPECT_EQ(aes_cbc(key.substr(0, 16), iv, plain), "") << "AES-256 needs a 32-byte key";
}

TEST(B64, Rfc4648Vectors) {
    struct Case { std::string_view in, want; };
    constexpr Case cases[] = {
        {"", ""}, {"f", "Zg=="}, {"fo", "Zm8="}, {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"},
        {"\xff\xfe\xfd", "//79"}, {std::string_view("\x00\x10\x83", 3), "ABCD"},
    };
    for (const Case& c : cases) EXPECT_EQ(b64(c.in), c.want) << c.in;
    for (size_t n : {16, 32, 64}) EXPECT_EQ(b64(std::string(n, 'x')).size(), n == 16 ? 24u : n == 32 ? 44u : 88u);
}

// --- An independent decryptor: libcrypto's CBC decryption and one-shot HMAC, and MS-OFFCRYPTO's
// --- key derivation written out again from the standard.

std::string attr(std::string_view xml, std::string_view element, std::string_view name) {
    const size_t at = xml.find("<" + std::string(element) + " ");
    const size_t end = xml.find('>', at);
    const std::string key = " " + std::string(name) + "=\"";
    const size_t v = xml.find(key, at);
    if (at == std::string_view::npos || v == std::string_view::npos || v > end) return "";
    const size_t from = v + key.size();
    return std::string(xml.substr(from, xml.find('"', from) - from));
}

std::string unb64(const std::string& text) {
    std::string out(text.size() / 4 * 3, '\0');
    const int n = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                  reinterpret_cast<const unsigned char*>(text.data()), static_cast<int>(text.size()));
    if (n < 0) return "";
    out.resize(static_cast<size_t>(n) - (text.size() >= 1 && text.back() == '=') - (text.size() >= 2 && text[text.size() - 2] == '='));
    return out;
}

std::string aes_decrypt(const std::string& key, const std::string& iv, std::string_view data) {
    std::string out(data.size(), '\0');
    EVP_CIPHER_CTX* c = EVP_CIPHER_CTX_new();
    int len = 0;
    EVP_DecryptInit_ex(c, EVP_aes_256_cbc(), nullptr, reinterpret_cast<const unsigned char*>(key.data()),
                       reinterpret_cast<const unsigned char*>(iv.data()));
    EVP_CIPHER_CTX_set_padding(c, 0);
    EVP_DecryptUpdate(c, reinterpret_cast<unsigned char*>(out.data()), &len,
                      reinterpret_cast<const unsigned char*>(data.data()), static_cast<int>(data.size()));
    EVP_CIPHER_CTX_free(c);
    return out;
}

std::string le32s(uint32_t v) {
    std::string s(4, '\0');
    for (int i = 0; i < 4; ++i) s[i] = static_cast<char>(v >> (8 * i));
    return s;
}

struct Opened {
    bool verifier_ok = false;
    bool integrity_ok = false;
    std::string package;
};

Opened open_agile(std::string_view file, std::string_view utf16_password) {
    Opened out;
    testing::CfbContents cfb = read_cfb(file);
    const std::string& info = cfb.streams["EncryptionInfo"];
    const std::string& stream = cfb.streams["EncryptedPackage"];
    const std::string_view xml = std::string_view(info).substr(8);
    const std::string salt = unb64(attr(xml, "p:encryptedKey", "saltValue"));
    std::string h = sha512({salt, utf16_password});
    for (uint32_t i = 0; i < 100000; ++i) h = sha512({le32s(i), h});
    auto key_for = [&](std::string_view block) { return sha512({h, block}).substr(0, 32); };
    const std::string input = aes_decrypt(key_for(hex("fea7d2763b4b9e79")), salt,
                                          unb64(attr(xml, "p:encryptedKey", "encryptedVerifierHashInput")));
    const std::string value = aes_decrypt(key_for(hex("d7aa0f6d3061344e")), salt,
                                          unb64(attr(xml, "p:encryptedKey", "encryptedVerifierHashValue")));
    out.verifier_ok = sha512({input}) == value;
    if (!out.verifier_ok) return out;
    const std::string secret = aes_decrypt(key_for(hex("146e0be7abacd0d6")), salt,
                                           unb64(attr(xml, "p:encryptedKey", "encryptedKeyValue")));
    const std::string data_salt = unb64(attr(xml, "keyData", "saltValue"));
    uint64_t size = 0;
    for (int i = 7; i >= 0; --i) size = size << 8 | static_cast<unsigned char>(stream[i]);
    for (size_t at = 8, i = 0; at < stream.size(); at += 4096, ++i)
        out.package += aes_decrypt(secret, sha512({data_salt, le32s(static_cast<uint32_t>(i))}).substr(0, 16),
                                   std::string_view(stream).substr(at, 4096));
    out.package.resize(size);
    const std::string hmac_key = aes_decrypt(secret, sha512({data_salt, hex("5fb2ad010cb9e1f6")}).substr(0, 16),
                                             unb64(attr(xml, "dataIntegrity", "encryptedHmacKey")));
    const std::string hmac_value = aes_decrypt(secret, sha512({data_salt, hex("a0677f02b22c8433")}).substr(0, 16),
                                               unb64(attr(xml, "dataIntegrity", "encryptedHmacValue")));
    unsigned char mac[64];
    unsigned int mac_len = 0;
    HMAC(EVP_sha512(), hmac_key.data(), static_cast<int>(hmac_key.size()),
         reinterpret_cast<const unsigned char*>(stream.data()), stream.size(), mac, &mac_len);
    out.integrity_ok = hmac_value == std::string(reinterpret_cast<char*>(mac), mac_len);
    return out;
}

TEST(Encrypt, DecryptsBackWithTheRightPasswordOnly) {
    struct Case { size_t size; std::string_view password, utf16; };
    const Case cases[] = {
        {1, "pw", std::string_view("p\0w\0", 4)},
        {4096, "\xC3\xA4", std::string_view("\xE4\0", 2)},
        {4097, "a\xF0\x9F\x98\x80", std::string_view("a\0\x3D\xD8\x00\xDE", 6)},  // U+1F600: a surrogate pair
        {10000, "secret", std::string_view("s\0e\0c\0r\0e\0t\0", 12)},
    };
    for (const Case& c : cases) {
        const std::string package = pattern(c.size, 9);
        Result<std::string> r = encrypt(package, c.password);
        ASSERT_TRUE(r.ok()) << r.error().message;
        Opened got = open_agile(r.value(), c.utf16);
        EXPECT_TRUE(got.verifier_ok) << c.size;
        EXPECT_TRUE(got.integrity_ok) << c.size;
        EXPECT_TRUE(got.package == package) << c.size;
        EXPECT_FALSE(open_agile(r.value(), std::string_view("x\0", 2)).verifier_ok) << "wrong password";
    }
}

TEST(Encrypt, EncryptedPackageLengths) {
    struct Case { size_t package, stream; };
    constexpr Case cases[] = {
        {0, 8}, {10, 8 + 16}, {16, 8 + 16}, {4096, 8 + 4096}, {4097, 8 + 4096 + 16}, {8192, 8 + 8192},
    };
    const std::string random = pattern(ENCRYPT_RANDOM_SIZE, 1);
    for (const Case& c : cases) {
        Result<std::string> r = encrypt_with_random(pattern(c.package, 2), "pw", random);
        ASSERT_TRUE(r.ok());
        testing::CfbContents got = read_cfb(r.value());
        const std::string& stream = got.streams["EncryptedPackage"];
        EXPECT_EQ(stream.size(), c.stream) << c.package;
        std::string want_prefix(8, '\0');
        for (int i = 0; i < 8; ++i) want_prefix[i] = static_cast<char>(uint64_t{c.package} >> (8 * i));
        EXPECT_EQ(stream.substr(0, 8), want_prefix);
        EXPECT_EQ(r.value().size() % 512, 0u);
        EXPECT_EQ(r.value()[26], 3) << "major version 3";
    }
}

// The descriptor with each Base64 value replaced by its length.
std::string descriptor_shape(const std::string& xml) {
    static const std::set<std::string> BASE64 = {
        "saltValue", "encryptedHmacKey", "encryptedHmacValue", "encryptedVerifierHashInput",
        "encryptedVerifierHashValue", "encryptedKeyValue"};
    std::string out;
    size_t at = 0;
    for (size_t eq; (eq = xml.find("=\"", at)) != std::string::npos;) {
        const size_t name_from = xml.rfind(' ', eq) + 1;
        const size_t from = eq + 2, to = xml.find('"', from);
        out += xml.substr(at, from - at);
        out += BASE64.count(xml.substr(name_from, eq - name_from)) ? std::to_string(to - from)
                                                                   : xml.substr(from, to - from);
        at = to;
    }
    return out + xml.substr(at);
}

TEST(Encrypt, EncryptionInfoStream) {
    const std::string random = pattern(ENCRYPT_RANDOM_SIZE, 3);
    Result<std::string> r = encrypt_with_random("PK\x03\x04 package", "pw", random);
    ASSERT_TRUE(r.ok());
    testing::CfbContents got = read_cfb(r.value());
    const std::string& info = got.streams["EncryptionInfo"];
    expect_bytes(info.substr(0, 8), std::string("\x04\x00\x04\x00\x40\x00\x00\x00", 8));
    const std::string xml = info.substr(8);
    expect_bytes(descriptor_shape(xml),
                 "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n"
                 "<encryption xmlns=\"http://schemas.microsoft.com/office/2006/encryption\""
                 " xmlns:p=\"http://schemas.microsoft.com/office/2006/keyEncryptor/password\">"
                   "<keyData saltSize=\"16\" blockSize=\"16\" keyBits=\"256\" hashSize=\"64\""
                   " cipherAlgorithm=\"AES\" cipherChaining=\"ChainingModeCBC\" hashAlgorithm=\"SHA512\""
                   " saltValue=\"24\"/>"
                   "<dataIntegrity encryptedHmacKey=\"88\" encryptedHmacValue=\"88\"/>"
                   "<keyEncryptors>"
                     "<keyEncryptor uri=\"http://schemas.microsoft.com/office/2006/keyEncryptor/password\">"
                       "<p:encryptedKey spinCount=\"100000\" saltSize=\"16\" blockSize=\"16\" keyBits=\"256\""
                       " hashSize=\"64\" cipherAlgorithm=\"AES\" cipherChaining=\"ChainingModeCBC\""
                       " hashAlgorithm=\"SHA512\" saltValue=\"24\" encryptedVerifierHashInput=\"24\""
                       " encryptedVerifierHashValue=\"88\" encryptedKeyValue=\"44\"/>"
                     "</keyEncryptor>"
                   "</keyEncryptors>"
                 "</encryption>");
    // The salts are the random bytes 0 to 15 and 48 to 63, as they are.
    EXPECT_EQ(attr(xml, "keyData", "saltValue"), b64(random.substr(0, 16)));
    EXPECT_EQ(attr(xml, "p:encryptedKey", "saltValue"), b64(random.substr(48, 16)));
}

TEST(Encrypt, FixedRandomGivesFixedBytesAndFreshRandomDiffers) {
    const std::string package = pattern(5000, 4);
    const std::string random = pattern(ENCRYPT_RANDOM_SIZE, 5);
    Result<std::string> a = encrypt_with_random(package, "pw", random);
    Result<std::string> b = encrypt_with_random(package, "pw", random);
    ASSERT_TRUE(a.ok() && b.ok());
    EXPECT_TRUE(a.value() == b.value());
    // Encrypting in place gives what the two finished streams give to build_cfb.
    testing::CfbContents streams = read_cfb(a.value());
    Result<std::string> copied = build_cfb(streams.streams["EncryptionInfo"], streams.streams["EncryptedPackage"]);
    ASSERT_TRUE(copied.ok());
    EXPECT_TRUE(copied.value() == a.value());

    Result<std::string> c = encrypt(package, "pw");
    Result<std::string> d = encrypt(package, "pw");
    ASSERT_TRUE(c.ok() && d.ok());
    const std::string xc = read_cfb(c.value()).streams["EncryptionInfo"];
    const std::string xd = read_cfb(d.value()).streams["EncryptionInfo"];
    for (auto [element, name] : {std::pair{"keyData", "saltValue"}, {"dataIntegrity", "encryptedHmacKey"},
                                 {"dataIntegrity", "encryptedHmacValue"}, {"p:encryptedKey", "saltValue"},
                                 {"p:encryptedKey", "encryptedVerifierHashInput"},
                                 {"p:encryptedKey", "encryptedVerifierHashValue"},
                                 {"p:encryptedKey", "encryptedKeyValue"}})
        EXPECT_NE(attr(xc, element, name), attr(xd, element, name)) << name;
    EXPECT_EQ(descriptor_shape(xc), descriptor_shape(xd));
    EXPECT_NE(read_cfb(c.value()).streams["EncryptedPackage"].substr(8, 16),
              read_cfb(d.value()).streams["EncryptedPackage"].substr(8, 16));
}

TEST(Encrypt, RandomOfTheWrongSize) {
    expect_error(encrypt_with_random("x", "pw", std::string(143, 'r')), ErrorCode::Encryption,
                 "rng: expected 144 random bytes");
}

int starved_source(unsigned char*, int) {
    ERR_raise(ERR_LIB_RAND, RAND_R_ERROR_RETRIEVING_ENTROPY);
    return 0;
}
int silent_source(unsigned char*, int) { return 0; }

TEST(Encrypt, FailingRandomSource) {
    ERR_raise(ERR_LIB_RAND, RAND_R_PRNG_NOT_SEEDED);  // a stale error is not the source's
    Result<std::string> r = encrypt_with_source("PK", "pw", starved_source);
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(code_name(r.error().code), "Encryption");
    EXPECT_EQ(r.error().message.rfind("rng: error:", 0), 0u) << r.error().message;
    EXPECT_NE(r.error().message.find("error retrieving entropy"), std::string::npos) << r.error().message;
    expect_error(encrypt_with_source("PK", "pw", silent_source), ErrorCode::Encryption,
                 "rng: libcrypto reported no error text");
    EXPECT_EQ(ERR_peek_error(), 0u) << "the error queue is left empty";
}

TEST(Encrypt, PackageTooLargeForAVersion3Stream) {
    // The layout fails before any byte of the package is read, so a view of 2 GiB suffices.
    const std::string small = "PK";
    const std::string_view huge(small.data(), size_t{1} << 31);
    expect_error(encrypt_with_random(huge, "pw", pattern(ENCRYPT_RANDOM_SIZE, 8)), ErrorCode::Encryption,
                 "cfb: stream larger than 2 GiB");
}

TEST(PasswordHash, SpinsOverUtf16) {
    // The spin loop written out once more, for a password outside the Basic Multilingual Plane.
    const std::string salt = pattern(16, 6);
    std::string h = sha512({salt, std::string_view("\x3D\xD8\x00\xDE" "!\0", 6)});
    for (uint32_t i = 0; i < 100000; ++i) h = sha512({le32s(i), h});
    EXPECT_EQ(password_hash("\xF0\x9F\x98\x80!", salt), h);
    // A byte that starts no UTF-8 sequence stands for U+FFFD.
    EXPECT_EQ(password_hash("\xFF", salt), password_hash("\xEF\xBF\xBD", salt));
}

}  // namespace
}  // namespace tessary
