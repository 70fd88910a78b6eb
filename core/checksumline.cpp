#include "checksumline.h"

bool ChecksumLine::fits(const std::string &path, const std::string &digest)
{
    if (digest.empty())
        return false;
    for (std::size_t i = spacelessWords(digest.data(), digest.size()); i < digest.size(); ++i)
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
