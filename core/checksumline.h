#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

// One record's line of a checksums file: the digest, one space, the path,
// CR LF. The reader and the writers share it.
class ChecksumLine
{
public:
    // A space of the line format: ' ', '\t', '\n', '\v', '\f' or '\r'.
    static bool isFormatSpace(char c)
    {
        // ' ', or '\t' '\n' '\v' '\f' '\r', which follow one another.
        return c == ' ' || static_cast<unsigned char>(c - '\t') <= '\r' - '\t';
    }
    // The length, in whole eight-byte words, of the start of bytes that
    // holds no byte below '!', and so no format space, as each is below it.
    // A word holds such a byte exactly when this borrow test marks one.
    // Made for every line read and every record written, so not a byte at
    // a time.
    static std::size_t spacelessWords(const char *bytes, std::size_t length)
    {
        constexpr std::uint64_t ones = 0x0101010101010101ULL;
        std::size_t at = 0;
        for (; at + 8 <= length; at += 8) {
            std::uint64_t word;
            std::memcpy(&word, bytes + at, sizeof word);
            if ((word - '!' * ones) & ~word & 0x80 * ones)
                break;
        }
        return at;
    }
    // The one form of a record that a line gives back unchanged: a digest
    // that is a single token and a path without a line feed.
    static bool fits(const std::string &path, const std::string &digest);
    // Appends the line of a record to buffer, line end included.
    static void append(std::string &buffer, const std::string &path, const std::string &digest);
};
