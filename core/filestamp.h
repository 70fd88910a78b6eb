#pragma once

#if defined(ORVALEN_POSIX)
#include <sys/stat.h>
#endif

// What a file's status says about its content: when it was last written,
// when its inode last changed, and its size. Times are nanoseconds since
// the epoch, as the file system's own clock gave them.
struct FileStamp
{
    long long modified = 0;
    long long changed = 0;
    long long size = 0;
    bool known = false;

    // Whether the file was written between the two looks: its content time,
    // inode time or size moved.
    bool differsFrom(const FileStamp &other) const
    {
        return known != other.known || modified != other.modified || changed != other.changed
               || size != other.size;
    }

#if defined(ORVALEN_POSIX)
    static FileStamp of(const struct stat &info)
    {
        FileStamp stamp;
#if defined(__APPLE__)
        stamp.modified = info.st_mtimespec.tv_sec * 1000000000LL + info.st_mtimespec.tv_nsec;
        stamp.changed = info.st_ctimespec.tv_sec * 1000000000LL + info.st_ctimespec.tv_nsec;
#else
        stamp.modified = info.st_mtim.tv_sec * 1000000000LL + info.st_mtim.tv_nsec;
        stamp.changed = info.st_ctim.tv_sec * 1000000000LL + info.st_ctim.tv_nsec;
#endif
        stamp.size = static_cast<long long>(info.st_size);
        stamp.known = true;
        return stamp;
    }
    // The status of the file open at fd; unknown where it cannot be had.
    static FileStamp ofOpen(int fd)
    {
        struct stat info;
        return ::fstat(fd, &info) == 0 ? of(info) : FileStamp();
    }
#endif
};
