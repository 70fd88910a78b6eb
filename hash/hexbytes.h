#pragma once

// Internal: lowercase hexadecimal text of raw digest bytes, two digits per
// byte, the more significant first.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

// Writes 2 * count digits at text, without a terminating zero. Every file's
// digest passes here, and a verify's every stored one: four bytes go to a
// word at a time rather than a look-up a digit.
inline void hexInto(const unsigned char *bytes, std::size_t count, char *text)
{
    std::size_t done = 0;
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    for (; done + 4 <= count; done += 4, text += 8) {
        std::uint32_t four;
        std::memcpy(&four, bytes + done, sizeof four);
        // Each byte to a 16-bit lane of its own, then its high digit to the
        // lane's first byte and its low digit to the second.
        std::uint64_t lanes = four;
        lanes = (lanes | (lanes << 16)) & 0x0000ffff0000ffffULL;
        lanes = (lanes | (lanes << 8)) & 0x00ff00ff00ff00ffULL;
        const std::uint64_t nibbles = ((lanes >> 4) & 0x000f000f000f000fULL) | ((lanes & 0x000f000f000f000fULL) << 8);
        // 10 to 15 carry into bit 4 once 6 is added: those become letters.
        const std::uint64_t letters = ((nibbles + 0x0606060606060606ULL) >> 4) & 0x0101010101010101ULL;
        const std::uint64_t digits = nibbles + 0x3030303030303030ULL + letters * ('a' - '0' - 10);
        std::memcpy(text, &digits, sizeof digits);
    }
#endif
    static const char digits[] = "0123456789abcdef";
    for (std::size_t i = done; i < count; ++i, text += 2) {
        text[0] = digits[bytes[i] >> 4];
        text[1] = digits[bytes[i] & 15];
    }
}

inline std::string hexOfBytes(const unsigned char *bytes, std::size_t count)
{
    std::string text(2 * count, '0');
    hexInto(bytes, count, &text[0]);
    return text;
}
