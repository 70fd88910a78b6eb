#include "treelisting.h"

#include "sortedname.h"

#include <cerrno>
#include <cstdlib>
#include <new>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

int openDirectoryAt(int dirFd, const char *name)
{
    int fd;
    do {
        fd = ::openat(dirFd, name, O_RDONLY | O_DIRECTORY | O_NOCTTY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// A link whose target is missing, or that cannot lead anywhere, is left out
// like a file that is not there. Any other failure means the entry exists
// but cannot be looked at.
bool isDangling(int error)
{
    return error == ENOENT || error == ENOTDIR || error == ELOOP || error == ENAMETOOLONG;
}

} // namespace

std::string TreeListing::canonicalPath(const std::string &path)
{
    std::string result;
    if (char *resolved = ::realpath(path.c_str(), nullptr)) {
        result = resolved;
        std::free(resolved);
    }
    return result;
}

TreeListing::TreeListing(const std::string &sourceDir, const std::string &skippedFile,
                         bool refuseLineFeeds)
    : rootPath(sourceDir.empty() ? std::string(".") : sourceDir), refuseLineFeeds(refuseLineFeeds)
{
    while (rootPath.size() > 1 && rootPath.back() == '/')
        rootPath.pop_back();
    // The path is resolved once, by the kernel: "link/.." is the parent of
    // the link's target, and "." in a working directory that was removed
    // stays that directory. Everything below is reached from here.
    do {
        rootFd = ::open(rootPath.c_str(), O_RDONLY | O_DIRECTORY | O_NOCTTY | O_CLOEXEC);
    } while (rootFd < 0 && errno == EINTR);
    if (rootFd < 0)
        rootError = errno;
    if (skippedFile.empty())
        return;
    skippedCanonical = canonicalPath(skippedFile);
    skippedName = skippedCanonical.substr(skippedCanonical.rfind('/') + 1);
    struct stat skipped;
    if (!skippedCanonical.empty() && ::stat(skippedCanonical.c_str(), &skipped) == 0) {
        skippedDevice = skipped.st_dev;
        skippedInode = skipped.st_ino;
    } else {
        skippedCanonical.clear();
    }
}

TreeListing::~TreeListing()
{
    if (rootFd >= 0)
        ::close(rootFd);
}

bool TreeListing::listSource()
{
    heldFds.clear();
    if (rootFd < 0) {
        rules = IgnoreRules();
        // A source directory that does not exist simply holds no files.
        if (rootError == ENOENT || rootError == ENOTDIR)
            return true;
        if (rootError == EMFILE || rootError == ENFILE) {
            shortage = rootError;
            return false;
        }
        return unreadable(rootError);
    }
    // A rule that cannot be read would guard or leave out other files than
    // its author meant: the scan stops before anything is hashed. A source
    // directory that cannot be searched fails below as it always did.
    struct stat rootStat;
    if (::fstatat(rootFd, ".", &rootStat, 0) != 0)
        rules = IgnoreRules();
    else if (!loadRules())
        return false;
    // The copy shares its reading position with rootFd, which the files
    // are opened from and which is never read.
    const int fd = openWaiting([this] { return ::fcntl(rootFd, F_DUPFD_CLOEXEC, 0); });
    if (fd < 0 && shortage != 0)
        return false;
    if (fd < 0 || ::lseek(fd, 0, SEEK_SET) < 0) {
        const int error = errno;
        if (fd >= 0)
            ::close(fd);
        return unreadable(error);
    }
    return collect(fd);
}

bool TreeListing::readRuleFile()
{
    return rules.load(rootFd, rootPath);
}

// A file is the checksums file only if its own name matches, or if it is a
// link that may lead there; only then is it looked at.
bool TreeListing::isSkipped(int dirFd, const char *name, bool mayLeadThere)
{
    if (skippedCanonical.empty() || (!mayLeadThere && skippedName != name))
        return false;
    if (!mayLeadThere) {
        struct stat info;
        if (::fstatat(dirFd, name, &info, 0) != 0 || info.st_dev != skippedDevice
            || info.st_ino != skippedInode)
            return false;
    }
    skippedAt.push_back(relPath + name);
    return true;
}

bool TreeListing::collectBelow(const std::string &name, int fd, int openError)
{
    const std::size_t dirLength = dirPath.size();
    const std::size_t relLength = relPath.size();
    appendName(dirPath, name.c_str());
    relPath += name;
    relPath += '/';
    const bool goOn = fd < 0 ? unreadable(openError) : collect(fd);
    dirPath.resize(dirLength);
    relPath.resize(relLength);
    return goOn;
}

int TreeListing::reopenBelow(const std::string &name) const
{
    // The path below the deepest directory held, one name at a time: no
    // call ever sees a path longer than a name. Each directory reached must
    // be the one listed at its level, or the tree changed under the scan.
    std::size_t begin = 0;
    for (std::size_t level = 1; level < heldFds.size(); ++level)
        begin = relPath.find('/', begin) + 1;
    int fd = heldFds.back();
    for (std::size_t level = heldFds.size();; ++level) {
        const std::size_t end = relPath.find('/', begin);
        const bool last = end == std::string::npos;
        const std::string part = last ? name : relPath.substr(begin, end - begin);
        const int next = openDirectoryAt(fd, part.c_str());
        const int error = errno;
        if (fd != heldFds.back())
            ::close(fd);
        if (next < 0) {
            errno = error;
            return -1;
        }
        fd = next;
        if (last)
            return fd;
        struct stat info;
        if (::fstat(fd, &info) != 0 || info.st_dev != descent[level].first
            || info.st_ino != descent[level].second) {
            ::close(fd);
            return -1;
        }
        begin = end + 1;
    }
}

int TreeListing::openSubdirectory(const std::string &name, bool held)
{
    return openWaiting([&] { return held ? openDirectoryAt(heldFds.back(), name.c_str()) : reopenBelow(name); });
}

int TreeListing::openWaiting(const std::function<int()> &open)
{
    // Running out of descriptors is no fault of the directory: the scan's
    // workers hold most of them, and close one soon.
    for (bool triedAlone = false;;) {
        const int fd = open();
        if (fd >= 0 || (errno != EMFILE && errno != ENFILE))
            return fd;
        const int cause = errno;
        if (descriptorWait && descriptorWait()) {
            triedAlone = false;
        } else if (triedAlone) {
            shortage = cause;
            return -1;
        } else {
            triedAlone = true;
        }
    }
}

bool TreeListing::collect(int fd)
{
    struct stat dirStat;
    // Looking up "." needs the right to search the directory: in one that
    // can be listed but not searched every file would fail as unreadable,
    // and every subdirectory would be blamed instead of this one.
    if (::fstatat(fd, ".", &dirStat, 0) != 0) {
        const int error = errno;
        ::close(fd);
        return unreadable(error);
    }
    for (const auto &onPath : descent) {
        if (onPath.first == dirStat.st_dev && onPath.second == dirStat.st_ino) {
            ::close(fd);
            return true;
        }
    }
    DIR *dir = ::fdopendir(fd);
    if (!dir) {
        const int error = errno;
        ::close(fd);
        return unreadable(error);
    }

    SortedNames files;
    SortedNames dirs;
    int readFailed = 0;
    for (;;) {
        errno = 0;
        const dirent *entry = ::readdir(dir);
        if (!entry) {
            readFailed = errno;
            break;
        }
        const char *name = entry->d_name;
        // Hidden entries, and with them "." and "..", are not listed.
        if (name[0] == '.')
            continue;
        bool isFile = false;
        bool isDir = false;
        struct stat target;
        bool followed = false;
        switch (entry->d_type) {
        case DT_REG:
            isFile = true;
            break;
        case DT_DIR:
            isDir = true;
            break;
        case DT_LNK:
        case DT_UNKNOWN:
            // Links count as what they lead to; broken links and links to
            // FIFOs, sockets or devices are left out, as those are.
            if (::fstatat(dirfd(dir), name, &target, 0) == 0) {
                followed = true;
                isFile = S_ISREG(target.st_mode);
                isDir = S_ISDIR(target.st_mode);
            } else if (!isDangling(errno)) {
                // It exists but cannot be looked at (a directory on the
                // way to its target is closed): it might be a file, and
                // passing it over would leave it unguarded without a
                // word. As a file it fails when it is opened, named.
                isFile = true;
            }
            break;
        default:
            break;
        }
        if ((isFile || isDir) && isIgnored(name, isDir))
            continue;
        const bool mayBeSkipped = followed && target.st_dev == skippedDevice
                                  && target.st_ino == skippedInode;
        if (isFile && !isSkipped(dirfd(dir), name, mayBeSkipped))
            files.add(name);
        else if (isDir)
            dirs.add(name);
    }
    if (readFailed != 0) {
        ::closedir(dir);
        return unreadable(readFailed);
    }

    files.sort();
    const std::size_t listedBefore = paths.size();
    std::string name;
    for (std::size_t i = 0; i < files.size(); ++i) {
        name.assign(files.data(i), files.length(i));
        if (!addFile(name)) {
            ::closedir(dir);
            return false;
        }
    }
    if (!handOver(listedBefore)) {
        ::closedir(dir);
        return false;
    }
    files = SortedNames();

    dirs.sort();
    descent.emplace_back(dirStat.st_dev, dirStat.st_ino);
    const bool held = descent.size() <= static_cast<std::size_t>(heldLevels);
    if (held) {
        heldFds.push_back(dirfd(dir));
    } else {
        ::closedir(dir);
        dir = nullptr;
    }
    bool goOn = true;
    for (std::size_t i = 0; i < dirs.size(); ++i) {
        const std::string sub = dirs.name(i);
        const int subFd = openSubdirectory(sub, held);
        const int openError = errno;
        if (subFd < 0 && shortage != 0) {
            goOn = false;
            break;
        }
        if (!(goOn = collectBelow(sub, subFd, openError)))
            break;
    }
    if (held)
        heldFds.pop_back();
    descent.pop_back();
    if (dir)
        ::closedir(dir);
    return goOn;
}
