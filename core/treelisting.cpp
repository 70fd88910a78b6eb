#include "treelisting.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

#ifdef ORVALEN_POSIX_LISTING
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

void appendName(std::string &path, const char *name)
{
    if (path.empty() || path.back() != '/')
        path += '/';
    path += name;
}

std::string canonicalPath(const std::string &path)
{
#ifdef ORVALEN_POSIX_LISTING
    std::string result;
    if (char *resolved = ::realpath(path.c_str(), nullptr)) {
        result = resolved;
        std::free(resolved);
    }
    return result;
#else
    const QString canonical = QFileInfo(QFile::decodeName(QByteArray::fromStdString(path))).canonicalFilePath();
    return QFile::encodeName(canonical).toStdString();
#endif
}

#ifdef ORVALEN_POSIX_LISTING

bool isAscii(const std::string &text)
{
    for (const char c : text)
        if (static_cast<unsigned char>(c) & 0x80)
            return false;
    return true;
}

inline unsigned foldedAscii(unsigned char c)
{
    return c - 'A' <= 'Z' - 'A' ? c + ('a' - 'A') : c;
}

// A directory entry as the listing sorts it.
struct SortedName
{
    std::string name;
    // The lower-cased decoded name, kept only for names that are not plain
    // ASCII: for those the bytes themselves already give the order.
    QString key;
    // For plain ASCII names, the first 16 bytes lowered, most significant
    // first and padded with zeros (no name holds one), so that most
    // comparisons take two integers.
    std::uint64_t head[2] = {0, 0};
    bool ascii = true;
};

SortedName sortedName(const char *name)
{
    SortedName entry;
    entry.name = name;
    entry.ascii = isAscii(entry.name);
    if (!entry.ascii) {
        entry.key = QString::fromUtf8(entry.name.data(), static_cast<int>(entry.name.size())).toLower();
        return entry;
    }
    const std::size_t n = std::min<std::size_t>(entry.name.size(), 16);
    for (std::size_t i = 0; i < n; ++i)
        entry.head[i / 8] |= std::uint64_t{foldedAscii(static_cast<unsigned char>(entry.name[i]))}
                             << (56 - 8 * (i % 8));
    return entry;
}

inline std::size_t unitCount(const SortedName &entry)
{
    return entry.ascii ? entry.name.size() : static_cast<std::size_t>(entry.key.size());
}

inline unsigned unitAt(const SortedName &entry, std::size_t i)
{
    if (!entry.ascii)
        return entry.key.at(static_cast<int>(i)).unicode();
    return foldedAscii(static_cast<unsigned char>(entry.name[i]));
}

// The order of a QDir sorted by QDir::Name | QDir::IgnoreCase: names lowered
// by QString::toLower and compared by UTF-16 code units, a prefix first.
// Names that decode alike (invalid UTF-8 beside U+FFFD, or names differing
// only in case) still differ in their bytes, which then decide, so the order
// does not depend on how the directory happened to list them.
bool nameLess(const SortedName &a, const SortedName &b)
{
    // Most names are plain ASCII: a listing of a million files makes some
    // twenty million of these comparisons, so those go straight over bytes.
    if (a.ascii && b.ascii) {
        if (a.head[0] != b.head[0])
            return a.head[0] < b.head[0];
        if (a.head[1] != b.head[1])
            return a.head[1] < b.head[1];
        const std::size_t n = std::min(a.name.size(), b.name.size());
        for (std::size_t i = 16; i < n; ++i) {
            const unsigned ca = foldedAscii(static_cast<unsigned char>(a.name[i]));
            const unsigned cb = foldedAscii(static_cast<unsigned char>(b.name[i]));
            if (ca != cb)
                return ca < cb;
        }
        if (a.name.size() != b.name.size())
            return a.name.size() < b.name.size();
        return a.name < b.name;
    }
    const std::size_t na = unitCount(a);
    const std::size_t nb = unitCount(b);
    const std::size_t n = std::min(na, nb);
    for (std::size_t i = 0; i < n; ++i) {
        const unsigned ua = unitAt(a, i);
        const unsigned ub = unitAt(b, i);
        if (ua != ub)
            return ua < ub;
    }
    if (na != nb)
        return na < nb;
    return a.name < b.name;
}

// Sorts a directory's names by nameLess, moving their indices rather than
// the names with their strings.
void sortNames(std::vector<SortedName> &names)
{
    std::vector<std::uint32_t> order(names.size());
    for (std::size_t i = 0; i < order.size(); ++i)
        order[i] = static_cast<std::uint32_t>(i);
    std::sort(order.begin(), order.end(),
              [&names](std::uint32_t a, std::uint32_t b) { return nameLess(names[a], names[b]); });
    std::vector<SortedName> sorted;
    sorted.reserve(names.size());
    for (const std::uint32_t index : order)
        sorted.push_back(std::move(names[index]));
    names.swap(sorted);
}

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

#else

bool isSearchable(const QFileInfo &dir)
{
#if defined(ORVALEN_POSIX)
    return dir.isExecutable();
#else
    (void)dir;
    return true;
#endif
}

#endif

} // namespace

TreeListing::TreeListing(const std::string &sourceDir, const std::string &skippedFile,
                         bool refuseLineFeeds)
    : rootPath(sourceDir.empty() ? std::string(".") : sourceDir), refuseLineFeeds(refuseLineFeeds)
{
    while (rootPath.size() > 1 && rootPath.back() == '/')
        rootPath.pop_back();
#ifdef ORVALEN_POSIX_LISTING
    // The path is resolved once, by the kernel: "link/.." is the parent of
    // the link's target, and "." in a working directory that was removed
    // stays that directory. Everything below is reached from here.
    do {
        rootFd = ::open(rootPath.c_str(), O_RDONLY | O_DIRECTORY | O_NOCTTY | O_CLOEXEC);
    } while (rootFd < 0 && errno == EINTR);
    if (rootFd < 0)
        rootError = errno;
#endif
    if (skippedFile.empty())
        return;
    skippedCanonical = canonicalPath(skippedFile);
    skippedName = skippedCanonical.substr(skippedCanonical.rfind('/') + 1);
#ifdef ORVALEN_POSIX_LISTING
    struct stat skipped;
    if (!skippedCanonical.empty() && ::stat(skippedCanonical.c_str(), &skipped) == 0) {
        skippedDevice = skipped.st_dev;
        skippedInode = skipped.st_ino;
    } else {
        skippedCanonical.clear();
    }
#endif
}

TreeListing::~TreeListing()
{
#ifdef ORVALEN_POSIX_LISTING
    if (rootFd >= 0)
        ::close(rootFd);
#endif
}

bool TreeListing::list(bool stopAtUnreadable)
{
    this->stopAtUnreadable = stopAtUnreadable;
    paths.clear();
    pathEnds.clear();
    forgotten = 0;
    descent.clear();
    skippedAt.clear();
    failed = Failure::None;
    failedAt.clear();
    shortage = 0;
    dirPath = rootPath;
    relPath.clear();
#ifdef ORVALEN_POSIX_LISTING
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
#else
    const QFileInfo root(QFile::decodeName(QByteArray::fromStdString(rootPath)));
    if (!root.isDir() || !root.isReadable() || !isSearchable(root))
        rules = IgnoreRules();
    else if (!loadRules())
        return false;
    return collect();
#endif
}

const char *TreeListing::below(std::size_t i, std::size_t &length) const
{
    i -= forgotten;
    const std::size_t begin = i == 0 ? 0 : pathEnds[i - 1];
    length = pathEnds[i] - begin;
    return paths.data() + begin;
}

bool TreeListing::unreadable(int error)
{
    // Memory that runs out is no fault of the directory.
    if (error == ENOMEM)
        throw std::bad_alloc();
    // The source directory itself is no finding: without it there is no
    // scan to go on with.
    if (unreadableHandler && !relPath.empty()) {
        unreadableHandler(relPath.substr(0, relPath.size() - 1), error != 0 ? error : EIO, size());
        return true;
    }
    failed = Failure::UnreadableDirectory;
    failedAt = dirPath;
    return !stopAtUnreadable;
}

bool TreeListing::loadRules()
{
#ifdef ORVALEN_POSIX_LISTING
    const bool loaded = rules.load(rootFd, rootPath);
#else
    const bool loaded = rules.load(rootPath);
#endif
    if (loaded)
        return true;
    if (rules.openError() == EMFILE || rules.openError() == ENFILE)
        shortage = rules.openError();
    else
        failed = Failure::IgnoreFile;
    failedAt = rootPath;
    return false;
}

bool TreeListing::isIgnored(const char *name, bool isDirectory)
{
    if (rules.isEmpty())
        return false;
    judgedPath.assign(relPath);
    judgedPath += name;
    return rules.excludedEntry(judgedPath.data(), judgedPath.size(), isDirectory);
}

bool TreeListing::handOver(std::size_t listedBefore)
{
    if (!listedHandler || pathEnds.size() == listedBefore)
        return true;
    const bool goOn = listedHandler(size());
    if (forgetsListed) {
        forgotten += pathEnds.size();
        paths.clear();
        pathEnds.clear();
    }
    if (!goOn)
        failed = Failure::Stopped;
    return goOn;
}

bool TreeListing::addFile(const std::string &name)
{
    // A line feed ends a record in the checksums file: such a path could
    // only be written as another one. Better to say so before the tree is
    // hashed than to fail when the file is written.
    if (refuseLineFeeds
        && (name.find('\n') != std::string::npos || relPath.find('\n') != std::string::npos)) {
        failed = Failure::LineFeedInName;
        failedAt = dirPath;
        appendName(failedAt, name.c_str());
        return !stopAtUnreadable;
    }
    paths += relPath;
    paths += name;
    pathEnds.push_back(paths.size());
    return true;
}

#ifdef ORVALEN_POSIX_LISTING

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

    std::vector<SortedName> files;
    std::vector<SortedName> dirs;
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
            files.push_back(sortedName(name));
        else if (isDir)
            dirs.push_back(sortedName(name));
    }
    if (readFailed != 0) {
        ::closedir(dir);
        return unreadable(readFailed);
    }

    sortNames(files);
    const std::size_t listedBefore = pathEnds.size();
    for (const SortedName &file : files) {
        if (!addFile(file.name)) {
            ::closedir(dir);
            return false;
        }
    }
    if (!handOver(listedBefore)) {
        ::closedir(dir);
        return false;
    }
    files = std::vector<SortedName>();

    sortNames(dirs);
    descent.emplace_back(dirStat.st_dev, dirStat.st_ino);
    const bool held = descent.size() <= static_cast<std::size_t>(heldLevels);
    if (held) {
        heldFds.push_back(dirfd(dir));
    } else {
        ::closedir(dir);
        dir = nullptr;
    }
    bool goOn = true;
    for (const SortedName &sub : dirs) {
        const int subFd = openSubdirectory(sub.name, held);
        const int openError = errno;
        if (subFd < 0 && shortage != 0) {
            goOn = false;
            break;
        }
        if (!(goOn = collectBelow(sub.name, subFd, openError)))
            break;
    }
    if (held)
        heldFds.pop_back();
    descent.pop_back();
    if (dir)
        ::closedir(dir);
    return goOn;
}

#else

bool TreeListing::isSkipped(const char *name, bool mayLeadThere)
{
    if (skippedCanonical.empty() || (!mayLeadThere && skippedName != name))
        return false;
    std::string path = dirPath;
    appendName(path, name);
    if (canonicalPath(path) != skippedCanonical)
        return false;
    skippedAt.push_back(relPath + name);
    return true;
}

bool TreeListing::collectBelow(const std::string &name)
{
    const std::size_t dirLength = dirPath.size();
    const std::size_t relLength = relPath.size();
    appendName(dirPath, name.c_str());
    relPath += name;
    relPath += '/';
    const bool goOn = collect();
    dirPath.resize(dirLength);
    relPath.resize(relLength);
    return goOn;
}

bool TreeListing::collect()
{
    const QString path = QFile::decodeName(QByteArray::fromStdString(dirPath));
    const QFileInfo info(path);
    // A source directory that does not exist simply holds no files.
    if (descent.empty() && !info.exists())
        return true;
    // QDir lists an unreadable directory as empty, without an error; and
    // in a directory that cannot be searched every entry would look absent.
    if (!info.isDir() || !info.isReadable() || !isSearchable(info))
        return unreadable(EACCES);
    const std::string canonical = canonicalPath(dirPath);
    if (std::find(descent.begin(), descent.end(), canonical) != descent.end())
        return true;

    // A QDir made from a path sorts by name ignoring case.
    const QDir dir(path);
    const std::size_t listedBefore = pathEnds.size();
    // QDir leaves out names that are not valid in the local encoding; where
    // this listing serves, names are text to the system too.
    for (const QFileInfo &file : dir.entryInfoList(QDir::Files, QDir::NoSort)) {
        // QDir::Files also lets through links to anything but a directory.
        if (file.exists() && !file.isFile())
            continue;
        const std::string name = QFile::encodeName(file.fileName()).toStdString();
        if (isIgnored(name.c_str(), false) || isSkipped(name.c_str(), file.isSymLink()))
            continue;
        if (!addFile(name))
            return false;
    }
    if (!handOver(listedBefore))
        return false;

    descent.push_back(canonical);
    bool goOn = true;
    for (const QFileInfo &sub : dir.entryInfoList(QDir::AllDirs | QDir::NoDotAndDotDot, QDir::NoSort)) {
        // The list of directories also holds links to FIFOs and devices.
        if (!sub.isDir())
            continue;
        const std::string name = QFile::encodeName(sub.fileName()).toStdString();
        if (!isIgnored(name.c_str(), true) && !(goOn = collectBelow(name)))
            break;
    }
    descent.pop_back();
    return goOn;
}

#endif
