#include "steadyhash.h"

#include "hashwrapper.h"
#include "hlexception.h"

#include <cerrno>

#if defined(ORVALEN_POSIX)
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

bool SteadyHash::ofOpenFile(hashwrapper &hasher, std::string &digest, int fd, long long size,
                            const std::string &path, bool overlap, const std::function<bool()> &keepGoing,
                            bool *missedCache, const FileStamp &before, FileStamp &after)
{
    FileStamp start = before;
    for (int read = 0;; ++read) {
        hasher.digestOfOpenFile(digest, fd, size, path, overlap, keepGoing, read == 0 ? missedCache : nullptr);
#if defined(ORVALEN_POSIX)
        // The one look a file costs beyond its open: a file that held still
        // is read once.
        after = FileStamp::ofOpen(fd);
#else
        after = start;
#endif
        const bool changed = after.differsFrom(start);
        if (digest.empty() || read == rereads || !changed)
            return changed && !digest.empty();
        start = after;
        size = after.size;
    }
}

std::string SteadyHash::ofFile(hashwrapper &hasher, int rootFd, const std::string &file, std::size_t belowOffset,
                              FileStamp &before, bool &changed, bool &changing,
                              const std::function<bool()> &keepGoing)
{
#if defined(ORVALEN_POSIX)
    struct stat status;
    const int fd = hashwrapper::openRegularFileBelow(rootFd, file, belowOffset, &status);
    if (fd < 0)
        throw hlException(1, hashwrapper::cannotReadMessage(file), errno);
    const long long size = static_cast<long long>(status.st_size);
    struct Closer
    {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
#if defined(POSIX_FADV_SEQUENTIAL) && defined(__linux__)
    // A larger read-ahead window helps a file that is not in memory.
    if (size > 1024 * 1024)
        (void)::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
#endif
    before = FileStamp::of(status);
    FileStamp after;
    std::string digest;
    changing = ofOpenFile(hasher, digest, fd, size, file, size >= hashwrapper::overlapFileSize, keepGoing,
                          nullptr, before, after);
    changed = after.differsFrom(before);
    return digest;
#else
    (void)rootFd;
    (void)belowOffset;
    (void)before;
    (void)changed;
    (void)changing;
    return hasher.digestOfFileWhile(file, keepGoing);
#endif
}
