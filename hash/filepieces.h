#pragma once

#include <cstddef>

// The pieces a file is read in for hashing, shared by the reader
// (filereader) and the wrappers that hash what it hands out (hashwrapper,
// whose interface names the sizes as its own).
namespace filepieces {

// What must come from the device is read in pieces of this many bytes:
// large enough that the system call per piece costs nothing beside the
// hashing, small enough to stay in the second-level cache.
constexpr unsigned int chunkSize = 256 * 1024;
// Files of at least this size are read on a second thread while the first
// one hashes, from the first piece that is not in memory on.
constexpr long long overlapFileSize = 4LL * 1024 * 1024;

// Reads from offset only what is in memory already; -1 where nothing is, or
// where the kernel cannot tell without waiting for the disk. A miss starts
// the kernel's read of those bytes.
long readWithoutWaiting(int fd, unsigned char *buffer, std::size_t length, long long offset);

} // namespace filepieces
