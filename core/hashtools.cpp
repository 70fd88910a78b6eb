#include "hashtools.h"

#include "compareerr.h"
#include "icreatehashreport.h"
#include "largepages.h"
#include "pathindex.h"

#include "hashfactory.h"
#include "hashwrapper.h"
#include "hlexception.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <utility>

#if defined(Q_OS_UNIX)
// The listing reads directories itself: QDir takes a stat call for every
// entry, which costs more than hashing a small file.
#define ORVALEN_POSIX_LISTING
#include <dirent.h>
#include <sys/stat.h>
#include <sys/types.h>
#endif

namespace {

#ifdef ORVALEN_POSIX_LISTING
// For ASCII names every conversion between QString and the local encoding is
// the identity, and the native separator is '/': a listed path is the native
// path below the source directory.
constexpr bool listedPathsAreNative = true;
#else
constexpr bool listedPathsAreNative = false;
#endif

bool isAscii(const char *text, std::size_t length)
{
    for (std::size_t i = 0; i < length; ++i)
        if (static_cast<unsigned char>(text[i]) & 0x80)
            return false;
    return true;
}

bool isFormatSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

void appendName(std::string &path, const char *name)
{
    if (path.empty() || path.back() != '/')
        path += '/';
    path += name;
}

#ifdef ORVALEN_POSIX_LISTING

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
    entry.ascii = isAscii(entry.name.data(), entry.name.size());
    if (!entry.ascii)
        entry.key = QFile::decodeName(name).toLower();
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
    return na < nb;
}

#endif

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

// The one form of a record that a line of the checksums file gives back
// unchanged: a digest that is a single token and a path without a line feed.
bool fitsOnOneLine(const HashRecord &record)
{
    if (record.hash.empty())
        return false;
    for (char c : record.hash)
        if (isFormatSpace(c))
            return false;
    return record.path.find('\n') == std::string::npos;
}

// Reads the records of one line, as the writer made it: the first token is
// the digest, and the path starts one character after the token's length,
// counted from the start of the line.
void readLine(const char *line, std::size_t length, std::vector<HashRecord> &records)
{
    std::size_t begin = 0;
    while (begin < length && isFormatSpace(line[begin]))
        ++begin;
    // A blank line carries no record; the lines after it still do.
    if (begin == length)
        return;
    std::size_t end = begin;
    while (end < length && !isFormatSpace(line[end]))
        ++end;
    const std::size_t pathStart = end - begin + 1;
    // A digest alone on its line stands for an empty path.
    std::string path = pathStart < length ? std::string(line + pathStart, length - pathStart)
                                          : std::string();
    records.push_back(HashRecord{std::move(path), std::string(line + begin, end - begin)});
}

} // namespace

struct HashTools::Listing
{
    // Native path of the directory being read.
    std::string dirPath;
    // Its path below the source directory, ending in a slash; empty for the
    // source directory itself.
    std::string relPath;
    // The files found, as paths below the source directory, back to back.
    std::string paths;
    std::vector<std::size_t> pathEnds;
    // The directories being read, outermost first: a directory met again on
    // this path is a loop.
#ifdef ORVALEN_POSIX_LISTING
    std::vector<std::pair<dev_t, ino_t>> descent;
#else
    std::vector<std::string> descent;
#endif

    // The checksums file, which is not listed.
    std::string skippedCanonical;
    std::string skippedName;
#ifdef ORVALEN_POSIX_LISTING
    dev_t skippedDevice = 0;
    ino_t skippedInode = 0;
#endif

    // Without a reporter an unreadable directory is passed over, like an
    // unreadable file.
    bool stopAtUnreadable = true;
    QString unreadableDir;

    bool unreadable()
    {
        unreadableDir = QDir::toNativeSeparators(QFile::decodeName(QByteArray::fromStdString(dirPath)));
        return !stopAtUnreadable;
    }

    // A file is the checksums file only if its own name matches, or if it
    // is a link that may lead there; only then is its full path resolved.
    bool isSkipped(const char *name, bool mayLeadThere)
    {
        if (skippedCanonical.empty() || (!mayLeadThere && skippedName != name))
            return false;
        const std::size_t length = dirPath.size();
        appendName(dirPath, name);
        const bool same = canonicalPath(dirPath) == skippedCanonical;
        dirPath.resize(length);
        return same;
    }
};

HashTools::HashTools(const std::string &algorithm, QObject *parent)
    : QObject(parent), hasher(hashfactory().makeWrapper(algorithm)), algorithm(algorithm)
{
}

HashTools::~HashTools()
{
    delete hasher;
}

#ifdef ORVALEN_POSIX_LISTING

bool HashTools::collectFiles(Listing &listing)
{
    DIR *dir = ::opendir(listing.dirPath.c_str());
    if (!dir) {
        // A source directory that does not exist simply holds no files.
        if (listing.descent.empty() && (errno == ENOENT || errno == ENOTDIR))
            return true;
        return listing.unreadable();
    }
    struct stat dirStat;
    if (::fstat(dirfd(dir), &dirStat) != 0) {
        ::closedir(dir);
        return listing.unreadable();
    }
    for (const auto &onPath : listing.descent) {
        if (onPath.first == dirStat.st_dev && onPath.second == dirStat.st_ino) {
            ::closedir(dir);
            return true;
        }
    }

    std::vector<SortedName> files;
    std::vector<SortedName> dirs;
    const std::size_t dirLength = listing.dirPath.size();
    bool readFailed = false;
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
            appendName(listing.dirPath, name);
            if (::stat(listing.dirPath.c_str(), &target) == 0) {
                followed = true;
                isFile = S_ISREG(target.st_mode);
                isDir = S_ISDIR(target.st_mode);
            }
            listing.dirPath.resize(dirLength);
            break;
        default:
            break;
        }
        const bool mayBeSkipped = followed && target.st_dev == listing.skippedDevice
                                  && target.st_ino == listing.skippedInode;
        if (isFile && !listing.isSkipped(name, mayBeSkipped))
            files.push_back(sortedName(name));
        else if (isDir)
            dirs.push_back(sortedName(name));
    }
    ::closedir(dir);
    if (readFailed)
        return listing.unreadable();

    std::sort(files.begin(), files.end(), nameLess);
    for (const SortedName &file : files) {
        listing.paths += listing.relPath;
        listing.paths += file.name;
        listing.pathEnds.push_back(listing.paths.size());
    }
    files = std::vector<SortedName>();

    std::sort(dirs.begin(), dirs.end(), nameLess);
    listing.descent.emplace_back(dirStat.st_dev, dirStat.st_ino);
    const std::size_t relLength = listing.relPath.size();
    bool goOn = true;
    for (const SortedName &sub : dirs) {
        appendName(listing.dirPath, sub.name.c_str());
        listing.relPath += sub.name;
        listing.relPath += '/';
        goOn = collectFiles(listing);
        listing.dirPath.resize(dirLength);
        listing.relPath.resize(relLength);
        if (!goOn)
            break;
    }
    listing.descent.pop_back();
    return goOn;
}

#else

bool HashTools::collectFiles(Listing &listing)
{
    const QString path = QFile::decodeName(QByteArray::fromStdString(listing.dirPath));
    const QFileInfo info(path);
    // A source directory that does not exist simply holds no files.
    if (listing.descent.empty() && !info.exists())
        return true;
    // QDir lists an unreadable directory as empty, without an error.
    if (!info.isDir() || !info.isReadable())
        return listing.unreadable();
    const std::string canonical = canonicalPath(listing.dirPath);
    if (std::find(listing.descent.begin(), listing.descent.end(), canonical) != listing.descent.end())
        return true;

    // A QDir made from a path sorts by name ignoring case.
    const QDir dir(path);
    for (const QFileInfo &file : dir.entryInfoList(QDir::Files, QDir::NoSort)) {
        // QDir::Files also lets through links to anything but a directory. A
        // name that does not come back from the local encoding stays listed,
        // so that hashing it fails.
        if (file.exists() && !file.isFile())
            continue;
        const std::string name = QFile::encodeName(file.fileName()).toStdString();
        if (listing.isSkipped(name.c_str(), file.isSymLink()))
            continue;
        listing.paths += listing.relPath;
        listing.paths += name;
        listing.pathEnds.push_back(listing.paths.size());
    }

    listing.descent.push_back(canonical);
    const std::size_t dirLength = listing.dirPath.size();
    const std::size_t relLength = listing.relPath.size();
    bool goOn = true;
    for (const QFileInfo &sub : dir.entryInfoList(QDir::AllDirs | QDir::NoDotAndDotDot, QDir::NoSort)) {
        // The list of directories also holds links to FIFOs and devices.
        if (!sub.isDir())
            continue;
        const std::string name = QFile::encodeName(sub.fileName()).toStdString();
        appendName(listing.dirPath, name.c_str());
        listing.relPath += name;
        listing.relPath += '/';
        goOn = collectFiles(listing);
        listing.dirPath.resize(dirLength);
        listing.relPath.resize(relLength);
        if (!goOn)
            break;
    }
    listing.descent.pop_back();
    return goOn;
}

#endif

void HashTools::calculateHashes(const QString &sourceDir, std::vector<HashRecord> &records,
                                ICreateHashReport *report, const QString &checksumFile)
{
    if (!hasher) {
        records.clear();
        if (report)
            report->reportError(tr("Unsupported hash algorithm \"%1\".")
                                    .arg(QString::fromStdString(algorithm)));
        return;
    }

    const QDir dir(sourceDir);
    const QString dirPath = dir.path();

    Listing listing;
    listing.dirPath = QFile::encodeName(dirPath).toStdString();
    listing.stopAtUnreadable = report != nullptr;
    if (!checksumFile.isEmpty()) {
        listing.skippedCanonical = canonicalPath(QFile::encodeName(checksumFile).toStdString());
        listing.skippedName = listing.skippedCanonical.substr(listing.skippedCanonical.rfind('/') + 1);
#ifdef ORVALEN_POSIX_LISTING
        struct stat skipped;
        if (::stat(listing.skippedCanonical.c_str(), &skipped) == 0) {
            listing.skippedDevice = skipped.st_dev;
            listing.skippedInode = skipped.st_ino;
        } else {
            listing.skippedCanonical.clear();
        }
#endif
    }
    const bool listed = collectFiles(listing);

    records.clear();
    if (!listed) {
        report->reportError(tr("Cannot read directory \"%1\".").arg(listing.unreadableDir));
        return;
    }

    const std::size_t count = listing.pathEnds.size();
    if (report)
        report->reportStart(static_cast<int>(count));
    records.reserve(count);
    adviseLargePages(records.data(), count * sizeof(HashRecord));

    // Below an absolute, clean source path, QDir::relativeFilePath gives
    // exactly the path below the source directory, so the costly call is
    // needed only for relative or unclean source paths.
    const bool pathBelowIsRelative = QDir::isAbsolutePath(dirPath) && QDir::cleanPath(dirPath) == dirPath;
    std::string nativePrefix = listing.dirPath;
    if (nativePrefix.empty() || nativePrefix.back() != '/')
        nativePrefix += '/';
    QString filePrefix = dirPath;
    if (!filePrefix.endsWith(QLatin1Char('/')))
        filePrefix += QLatin1Char('/');

    std::size_t begin = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const char *below = listing.paths.data() + begin;
        const std::size_t length = listing.pathEnds[i] - begin;
        begin = listing.pathEnds[i];
        const bool nativeAsListed = listedPathsAreNative && isAscii(below, length);

        std::string recordPath;
        QString relativePath;
        QString filePath;
        if (pathBelowIsRelative && nativeAsListed) {
            recordPath.assign(below, length);
            if (report)
                relativePath = QString::fromLatin1(below, static_cast<int>(length));
        } else {
            filePath = filePrefix + QFile::decodeName(QByteArray(below, static_cast<int>(length)));
            relativePath = pathBelowIsRelative ? filePath.mid(filePrefix.size())
                                               : dir.relativeFilePath(QDir::toNativeSeparators(filePath));
            recordPath = relativePath.toStdString();
        }

        if (report) {
            report->reportFile(relativePath);
            if (report->isCanceled()) {
                records.clear();
                return;
            }
        }

        std::string digest;
        try {
            std::string nativePath = nativeAsListed
                ? nativePrefix + std::string(below, length)
                : QDir::toNativeSeparators(filePath).toLocal8Bit().toStdString();
            digest = hasher->digestOfFile(std::move(nativePath));
        } catch (const hlException &error) {
            if (report) {
                records.clear();
                report->reportError(QString::fromStdString(error.messageText()));
                return;
            }
            continue;
        }
        if (!digest.empty())
            records.push_back(HashRecord{std::move(recordPath), std::move(digest)});
    }

    if (report)
        report->reportFinish();
}

void HashTools::calculateHashes(const std::string &sourceDir, std::vector<HashRecord> &records,
                                ICreateHashReport *report, const std::string &checksumFile)
{
    calculateHashes(QFile::decodeName(QByteArray::fromStdString(sourceDir)), records, report,
                    QFile::decodeName(QByteArray::fromStdString(checksumFile)));
}

void HashTools::setJobs(int jobs)
{
    jobCount = jobs < 0 ? 0 : jobs;
}

int HashTools::jobs() const
{
    return jobCount;
}

std::string HashTools::digestOrEmpty(const std::string &fileName)
{
    try {
        return hasher->digestOfFile(fileName);
    } catch (...) {
        return std::string();
    }
}

std::string HashTools::saveDB(const std::string &fileName, const std::vector<HashRecord> &records)
{
    if (!hasher)
        return std::string();
    try {
        for (const HashRecord &record : records)
            if (!fitsOnOneLine(record))
                return std::string();

        const QString name = QFile::decodeName(QByteArray::fromStdString(fileName));
        if (name.isEmpty() || QFile::encodeName(name).toStdString() != fileName)
            return std::string();
        // Directories, FIFOs and devices are no checksums files; and a file
        // we may not write stays as it is.
        const QFileInfo existing(name);
        if (existing.exists() && (!existing.isFile() || !existing.isWritable()))
            return std::string();

        // The new content goes to a temporary file beside the old one, which
        // is replaced only once every byte has been written and synced: a
        // full disk or a crash leaves the previous checksums file as it was.
        QSaveFile out(name);
        if (!out.open(QIODevice::WriteOnly))
            return std::string();
        constexpr std::size_t chunk = 1 << 20;
        std::string buffer;
        buffer.reserve(chunk + 4096);
        auto flush = [&]() {
            const qint64 size = static_cast<qint64>(buffer.size());
            const bool written = out.write(buffer.data(), size) == size;
            buffer.clear();
            return written;
        };
        for (const HashRecord &record : records) {
            buffer += record.hash;
            buffer += ' ';
            buffer += record.path;
            buffer += "\r\n";
            if (buffer.size() >= chunk && !flush())
                return std::string();
        }
        if (!buffer.empty() && !flush())
            return std::string();
        if (!out.commit())
            return std::string();
    } catch (...) {
        return std::string();
    }
    return digestOrEmpty(fileName);
}

std::string HashTools::loadDB(const std::string &fileName, std::vector<HashRecord> &records)
{
    if (!hasher)
        return std::string();
    const std::size_t kept = records.size();
    try {
        // A FIFO would block and a directory reads as nothing: only a
        // regular file is a checksums file.
#ifdef ORVALEN_POSIX_LISTING
        struct stat info;
        if (::stat(fileName.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
            return std::string();
#else
        if (!QFileInfo(QFile::decodeName(QByteArray::fromStdString(fileName))).isFile())
            return std::string();
#endif
        std::unique_ptr<std::FILE, int (*)(std::FILE *)> file(std::fopen(fileName.c_str(), "rb"),
                                                              &std::fclose);
        if (!file)
            return std::string();

        constexpr std::size_t chunk = 1 << 20;
        std::vector<char> buffer(chunk);

        // Counting the lines first lets the list grow once: growing it step
        // by step would copy it and touch twice its memory.
        std::size_t lines = 1;
        while (const std::size_t got = std::fread(buffer.data(), 1, chunk, file.get()))
            lines += static_cast<std::size_t>(std::count(buffer.data(), buffer.data() + got, '\n'));
        if (std::ferror(file.get()) || std::fseek(file.get(), 0, SEEK_SET) != 0)
            return std::string();
        try {
            records.reserve(kept + lines);
            adviseLargePages(records.data() + kept, lines * sizeof(HashRecord));
        } catch (const std::exception &) {
            // Only the blank lines of a huge file could ask for this much.
        }

        std::string pending;    // the start of a line that runs on into the next chunk
        bool firstLine = true;
        auto takeLine = [&](const char *line, std::size_t length, bool ended) {
            if (firstLine) {
                firstLine = false;
                if (length >= 3 && std::memcmp(line, "\xEF\xBB\xBF", 3) == 0) {
                    line += 3;
                    length -= 3;
                }
            }
            if (ended && length > 0 && line[length - 1] == '\r')
                --length;
            readLine(line, length, records);
        };
        bool failed = false;
        for (;;) {
            const std::size_t got = std::fread(buffer.data(), 1, chunk, file.get());
            if (got == 0) {
                failed = std::ferror(file.get()) != 0;
                break;
            }
            const char *data = buffer.data();
            const char *end = data + got;
            while (data < end) {
                const char *newline = static_cast<const char *>(std::memchr(data, '\n', end - data));
                if (!newline) {
                    pending.append(data, end);
                    break;
                }
                if (pending.empty()) {
                    takeLine(data, newline - data, true);
                } else {
                    pending.append(data, newline);
                    takeLine(pending.data(), pending.size(), true);
                    pending.clear();
                }
                data = newline + 1;
            }
        }
        file.reset();
        if (!failed && !pending.empty())
            takeLine(pending.data(), pending.size(), false);
        if (!failed) {
            std::string digest = digestOrEmpty(fileName);
            if (!digest.empty())
                return digest;
        }
    } catch (...) {
    }
    records.resize(kept);
    return std::string();
}

void HashTools::compare(const std::vector<HashRecord> &current, const std::vector<HashRecord> &stored,
                        std::vector<std::unique_ptr<CompareErr>> &errors)
{
    errors.clear();

    // One table serves both passes, so its memory is touched only once.
    PathIndex index;
    index.assign(stored);
    index.lookUp(current, [&](const HashRecord &now, const HashRecord *before) {
        if (!before)
            errors.push_back(std::make_unique<CE_NewFile>(now.path));
        else if (before->hash != now.hash)
            errors.push_back(std::make_unique<CE_HashDiff>(now.path, now.hash, before->hash));
    });

    index.assign(current);
    index.lookUp(stored, [&](const HashRecord &before, const HashRecord *now) {
        if (!now)
            errors.push_back(std::make_unique<CE_AbsentFile>(before.path));
    });
}
