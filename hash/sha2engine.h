#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Running state of one SHA-256 digest.
struct sha256context
{
    std::uint32_t state[8];
    std::uint64_t bitCount;
    unsigned char buffer[64];
};

// Running state of one SHA-384 or SHA-512 digest.
struct sha512context
{
    std::uint64_t state[8];
    std::uint64_t bitCount[2]; // low word, high word
    unsigned char buffer[128];
};

// The SHA-2 steps (FIPS 180-4). Holds no state: everything lives in the
// context. The final steps write the digest as lowercase hexadecimal text
// ending in a zero byte, so `text` needs twice the digest length plus one.
class sha2engine
{
public:
    void sha256Init(sha256context *context);
    void sha256Update(sha256context *context, const unsigned char *data, std::size_t length);
    void sha256Final(sha256context *context, char text[65]);

    void sha384Init(sha512context *context);
    void sha384Update(sha512context *context, const unsigned char *data, std::size_t length);
    void sha384Final(sha512context *context, char text[97]);

    void sha512Init(sha512context *context);
    void sha512Update(sha512context *context, const unsigned char *data, std::size_t length);
    void sha512Final(sha512context *context, char text[129]);

    // The text the final steps wrote, up to its terminating zero byte.
    static std::string textOf(const unsigned char *text);
};
