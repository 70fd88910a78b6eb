#include "treelisting.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#ifdef ORVALEN_POSIX_LISTING
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
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

// A directory entry as the listing sorts it.
struct SortedName
{
    std::string name;
    // The lower-cased decoded name, kept only for names that are not plain
    // ASCII: for those the bytes themselves already give the order.
    QString key;
    bool ascii;
};

SortedName sortedName(const char *name)
{
    SortedName entry{name, QString(), true};
    entry.ascii = isAscii(entry.name);
    if (!entry.ascii)
        entry.key = QString::fromUtf8(entry.name.data(), static_cast<int>(entry.name.size())).toLower();
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
    const unsigned c = static_cast<unsigned char>(entry.name[i]);
    return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c;
}

// The order of a QDir sorted by QDir::Name | QDir::IgnoreCase: names lowered
// by QString::toLower and compared by UTF-16 code units, a prefix first.
// Names that decode alike (invalid UTF-8 beside U+FFFD, or names differing
// only in case) still differ in their bytes, which then decide, so the order
// does not depend on how the directory happened to list them.
bool nameLess(const SortedName &a, const SortedName &b)
{
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
#if defined(Q_OS_UNIX)
    return dir.isExecutable();
#else
    (void)dir;
    return true;
#endif
}

#endif

} // namespace

TreeListing::TreeListing(const std::string &sourceDir, const std::string &skippedFile)
    : rootPath(sourceDir.empty() ? std::string(".") : sourceDir)
{
    while (rootPath.size() > 1 && rootPath.back() == '/')
        rootPath.pop_back();
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

bool TreeListing::list(bool stopAtUnreadable)
{
    this->stopAtUnreadable = stopAtUnreadable;
    paths.clear();
    pathEnds.clear();
    descent.clear();
    unreadableDir.clear();
    shortage = 0;
    dirPath = rootPath;
    relPath.clear();
    return collect();
}

const char *TreeListing::below(std::size_t i, std::size_t &length) const
{
    const std::size_t begin = i == 0 ? 0 : pathEnds[i - 1];
    length = pathEnds[i] - begin;
    return paths.data() + begin;
}

QString TreeListing::unreadableDirectory() const
{
    return QDir::toNativeSeparators(QFile::decodeName(QByteArray::fromStdString(unreadableDir)));
}

bool TreeListing::unreadable()
{
    unreadableDir = dirPath;
    return !stopAtUnreadable;
}

// A file is the checksums file only if its own name matches, or if it is a
// link that may lead there; only then is its full path resolved.
bool TreeListing::isSkipped(const char *name, bool mayLeadThere)
{
    if (skippedCanonical.empty() || (!mayLeadThere && skippedName != name))
        return false;
    const std::size_t length = dirPath.size();
    appendName(dirPath, name);
    const bool same = canonicalPath(dirPath) == skippedCanonical;
    dirPath.resize(length);
    return same;
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

#ifdef ORVALEN_POSIX_LISTING

bool TreeListing::collect()
{
    DIR *dir = ::opendir(dirPath.c_str());
    // Running out of descriptors is no fault of the directory: the scan's
    // workers hold most of them, and close one soon.
    for (bool triedAlone = false; !dir && (errno == EMFILE || errno == ENFILE);) {
        const int cause = errno;
        if (descriptorWait && descriptorWait()) {
            triedAlone = false;
        } else if (triedAlone) {
            shortage = cause;
            return false;
        } else {
            triedAlone = true;
        }
        dir = ::opendir(dirPath.c_str());
    }
    if (!dir) {
        // A source directory that does not exist simply holds no files.
        if (descent.empty() && (errno == ENOENT || errno == ENOTDIR))
            return true;
        return unreadable();
    }
    struct stat dirStat;
    if (::fstat(dirfd(dir), &dirStat) != 0) {
        ::closedir(dir);
        return unreadable();
    }
    for (const auto &onPath : descent) {
        if (onPath.first == dirStat.st_dev && onPath.second == dirStat.st_ino) {
            ::closedir(dir);
            return true;
        }
    }

    std::vector<SortedName> files;
    std::vector<SortedName> dirs;
    bool readFailed = false;
    bool typeUnknown = false;
    for (;;) {
        errno = 0;
        const dirent *entry = ::readdir(dir);
        if (!entry) {
            readFailed = errno != 0;
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
                typeUnknown = true;
            }
            break;
        default:
            break;
        }
        if (typeUnknown)
            break;
        const bool mayBeSkipped = followed && target.st_dev == skippedDevice
                                  && target.st_ino == skippedInode;
        if (isFile && !isSkipped(name, mayBeSkipped))
            files.push_back(sortedName(name));
        else if (isDir)
            dirs.push_back(sortedName(name));
    }
    ::closedir(dir);
    // An entry that exists but cannot be looked at might be a file: passing
    // it over would leave it unguarded without a word.
    if (readFailed || typeUnknown)
        return unreadable();

    std::sort(files.begin(), files.end(), nameLess);
    for (const SortedName &file : files) {
        paths += relPath;
        paths += file.name;
        pathEnds.push_back(paths.size());
    }
    if (listedHandler && !files.empty())
        listedHandler(pathEnds.size());
    files = std::vector<SortedName>();

    std::sort(dirs.begin(), dirs.end(), nameLess);
    descent.emplace_back(dirStat.st_dev, dirStat.st_ino);
    bool goOn = true;
    for (const SortedName &sub : dirs)
        if (!(goOn = collectBelow(sub.name)))
            break;
    descent.pop_back();
    return goOn;
}

#else

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
        return unreadable();
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
        if (isSkipped(name.c_str(), file.isSymLink()))
            continue;
        paths += relPath;
        paths += name;
        pathEnds.push_back(paths.size());
    }
    if (listedHandler && pathEnds.size() > listedBefore)
        listedHandler(pathEnds.size());

    descent.push_back(canonical);
    bool goOn = true;
    for (const QFileInfo &sub : dir.entryInfoList(QDir::AllDirs | QDir::NoDotAndDotDot, QDir::NoSort)) {
        // The list of directories also holds links to FIFOs and devices.
        if (sub.isDir() && !(goOn = collectBelow(QFile::encodeName(sub.fileName()).toStdString())))
            break;
    }
    descent.pop_back();
    return goOn;
}

#endif
