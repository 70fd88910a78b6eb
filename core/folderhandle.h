#pragma once

#include "descriptor.h"

#include <cstddef>
#include <string>

struct stat;

// The folder of the last file a hasher opened, kept open for the next one:
// the files of a folder come in a row, and each is then found by its own
// name, where a path from the root makes the kernel look up every folder on
// the way again, for every file. Where the folder cannot be opened, or is
// not worth keeping, the file is opened by its whole path, which also gives
// the reason it cannot be. POSIX descriptors only.
class FolderHandle
{
public:
    explicit FolderHandle(int rootFd) : rootFd(rootFd) {}

    // As hashwrapper::openRegularFileBelow(rootFd, path, belowOffset,
    // status).
    int openRegularFile(const std::string &path, std::size_t belowOffset, struct stat *status);
    // The folder of the file at path, open, kept for the files after it;
    // -1 where the file is to be opened by its whole path, as above.
    int folderOf(const std::string &path, std::size_t belowOffset);
    // Closes the folder, for a caller short of descriptors.
    void release();

private:
    const int rootFd;
    Descriptor folder;
    // The folder's path, from belowOffset, as the files name it.
    std::string folderPath;
};
