#include "folderhandle.h"

#include "hashwrapper.h"

#include <climits>
#include <cstring>

int FolderHandle::openRegularFile(const std::string &path, std::size_t belowOffset, struct stat *status)
{
    const int fd = folderOf(path, belowOffset);
    if (fd < 0)
        return hashwrapper::openRegularFileBelow(rootFd, path, belowOffset, status);
    return hashwrapper::openRegularFileBelow(fd, path, belowOffset + folderPath.size() + 1, status);
}

int FolderHandle::folderOf(const std::string &path, std::size_t belowOffset)
{
    const std::size_t slash = path.rfind('/');
    if (rootFd < 0 || slash == std::string::npos || slash <= belowOffset)
        return -1;
    const std::size_t length = slash - belowOffset;
    if (folder.get() >= 0 && folderPath.size() == length
        && std::memcmp(folderPath.data(), path.data() + belowOffset, length) == 0)
        return folder.get();
    release();
    // A folder that cannot be opened in one call is left to the whole
    // path's open, which passes it a piece at a time.
    if (length >= PATH_MAX)
        return -1;
    folderPath.assign(path, belowOffset, length);
    folder.reset(hashwrapper::openPassage(rootFd, folderPath.c_str()));
    if (folder.get() < 0)
        folderPath.clear();
    return folder.get();
}

void FolderHandle::release()
{
    folder.reset();
    folderPath.clear();
}
