#include "checksumline.h"

#include <cstdint>
#include <cstring>

bool ChecksumLine::fits(const std::string &path, const std::string &digest)
{
    if (digest.empty())
        return false;
    // Made for every file of the tree, so eight characters at a time: every
    // format space is below '!', and a word with no byte below it has none.
    constexpr std::uint64_t ones = 0x0101010101010101ull;
    std::size_t i = 0;
    for (; i + 8 <= digest.size(); i += 8) {
        std::uint64_t word;
        std::memcpy(&word, digest.data() + i, 8);
        if ((word - '!' * ones) & ~word & 0x80 * ones)
            break;
    }
    for (; i < digest.size(); ++i)
        if (isFormatSpace(digest[i]))
            return false;
    return path.find('\n') == std::string::npos;
}

void ChecksumLine::append(std::string &buffer, const std::string &path, const std::string &digest)
{
    buffer += digest;
    buffer += ' ';
    buffer += path;
    buffer += "\r\n";
}
