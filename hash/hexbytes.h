#pragma once

// Internal: lowercase hexadecimal text of raw digest bytes, two digits per
// byte, the more significant first.

#include <cstddef>
#include <string>

// Writes 2 * count digits at text, without a terminating zero.
inline void hexInto(const unsigned char *bytes, std::size_t count, char *text)
{
    static const char digits[] = "0123456789abcdef";
    for (std::size_t i = 0; i < count; ++i, text += 2) {
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
