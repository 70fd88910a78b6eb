#pragma once

#include <cstddef>
#include <cstdint>

// Running state of one MD5 digest.
struct md5context
{
    std::uint32_t state[4];
    std::uint32_t count[2]; // message length in bits: low word, high word
    unsigned char buffer[64];
};

// The MD5 steps (RFC 1321). Holds no state: everything lives in the context.
class md5engine
{
public:
    void init(md5context *context);
    void update(md5context *context, const unsigned char *input, std::size_t length);
    // Writes the 16 digest bytes and wipes the context.
    void finish(unsigned char digest[16], md5context *context);
};
