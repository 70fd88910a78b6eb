#include "folderhandle.h"

#include "hashwrapper.h"

#include <climits>
#include <cstring>

int FolderHandle::openRegularFile(const std::string &path, std::size_t belowOffset, struct stat *status)
{
    const std::size_t slash = path.rfind('/');
    if (rootFd < 0 || slash == std::string::npos || slash <= belowOffset)
        return hashwrapper::openRegularFileBelow(rootFd, path, belowOffset, status);
    const std::size_t length = slash - belowOffset;
    if (folder.get() < 0 || folderPath.size() != length
        || std::memcmp(folderPath.data(), path.data() + belowOffset, length) != 0) {
        release();
        // A folder that cannot be opened in one call is left to the whole
        // path's open, which passes it a piece at a time.
        if (length >= PATH_MAX)
            return hashwrapper::openRegularFileBelow(rootFd, path, belowOffset, status);
        folderPath.assign(path, belowOffset, length);
        const int fd = hashwrapper::openPassage(rootFd, folderPath.c_str());
        folder.reset(fd);
        if (fd < 0)
            return hashwrapper::openRegularFileBelow(rootFd, path, belowOffset, status);
    }
    return hashwrapper::openRegularFileBelow(folder.get(), path, slash + 1, status);
}

void FolderHandle::release()
{
    folder.reset();
    folderPath.clear();
}
