#pragma once

#include <cstddef>
#include <cstdint>

enum sha1Status
{
    sha1Success = 0,
    sha1Null,         // a null context or data pointer
    sha1InputTooLong, // more than 2^64 - 1 bits
    sha1StateError    // input after the result was computed
};

// Running state of one SHA-1 digest.
struct sha1context
{
    std::uint32_t state[5];
    std::uint32_t lengthLow;  // message length in bits, low word
    std::uint32_t lengthHigh; // and high word
    std::uint16_t index;      // bytes waiting in block
    unsigned char block[64];
    std::int32_t computed;  // the result has been computed; no more input
    std::int32_t corrupted; // a sha1Status other than success, once gone wrong
};

// The SHA-1 steps (FIPS 180-4). Holds no state: everything lives in the
// context.
class sha1engine
{
public:
    int reset(sha1context *context);
    int input(sha1context *context, const unsigned char *data, std::size_t length);
    int result(sha1context *context, unsigned char digest[20]);
};
