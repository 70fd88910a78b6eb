#pragma once

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
    // The one form of a record that a line gives back unchanged: a digest
    // that is a single token and a path without a line feed.
    static bool fits(const std::string &path, const std::string &digest);
    // Appends the line of a record to buffer, line end included.
    static void append(std::string &buffer, const std::string &path, const std::string &digest);
};
