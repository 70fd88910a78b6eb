#pragma once

#include "filestamp.h"

#include <cstddef>
#include <functional>
#include <string>

class hashwrapper;

// Reads a file and hashes it, and reads it again while it changed during
// the read. A file written while it is read has a digest of no content it
// ever held, and one written behind the read position would pass unseen.
class SteadyHash
{
public:
    // The file is read again, from the same descriptor, while its status
    // changed during the read, at most this many times more.
    static constexpr int rereads = 3;

    // Hashes the file open at fd, of size bytes and with the status before
    // as it was opened, into digest, reading it again as above; after ends
    // as the status once the last read was done. True when the file changed
    // during every read. An empty digest once keepGoing answered false;
    // missedCache as for the first read.
    static bool ofOpenFile(hashwrapper &hasher, std::string &digest, int fd, long long size,
                           const std::string &path, bool overlap, const std::function<bool()> &keepGoing,
                           bool *missedCache, const FileStamp &before, FileStamp &after);

    // Opens the file at path, below rootFd from belowOffset on where there
    // is one, and hashes it as above. changed: it was written while it was
    // read; changing: during every read. Throws hlException where it cannot
    // be read.
    static std::string ofFile(hashwrapper &hasher, int rootFd, const std::string &file, std::size_t belowOffset,
                              FileStamp &before, bool &changed, bool &changing,
                              const std::function<bool()> &keepGoing);
};
