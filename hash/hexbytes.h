#pragma once

// Internal: lowercase hexadecimal text of raw digest bytes, two digits per
// byte, the more significant first.

#include <cstddef>
#include <string>

inline std::string hexOfBytes(const unsigned char *bytes, std::size_t count)
{
    static const char digits[] = "0123456789abcdef";
    std::string text(2 * count, '0');
    for (std::size_t i = 0; i < count; ++i) {
        text[2 * i] = digits[bytes[i] >> 4];
        text[2 * i + 1] = digits[bytes[i] & 15];
    }
    return text;
}
