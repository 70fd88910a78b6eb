#include "checksumfile.h"

#include "largepages.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSaveFile>
#include <QString>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#if defined(ORVALEN_POSIX)
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>
#endif

namespace {

constexpr std::size_t ioChunk = 1 << 20;

bool isFormatSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// The one form of a record that a line of the checksums file gives back
// unchanged: a digest that is a single token and a path without a line feed.
bool fitsOnOneLine(const std::string &path, const std::string &digest)
{
    if (digest.empty())
        return false;
    for (char c : digest)
        if (isFormatSpace(c))
            return false;
    return path.find('\n') == std::string::npos;
}

void appendLine(std::string &buffer, const std::string &path, const std::string &digest)
{
    buffer += digest;
    buffer += ' ';
    buffer += path;
    buffer += "\r\n";
}

// Reads the record of one line, as the writer made it: the first token is
// the digest, and the path starts one character after the token's length,
// counted from the start of the line.
void readLine(const char *line, std::size_t length, const ChecksumFile::RecordTaker &take)
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
    if (pathStart < length)
        take(line + pathStart, length - pathStart, line + begin, end - begin);
    else
        take(line, 0, line + begin, end - begin);
}

// The line as the writer makes it: 64 hexadecimal digits (either case),
// a space or a tab, then the path.
bool isRecordLine(const char *line, std::size_t length)
{
    constexpr std::size_t digits = 64;
    if (length <= digits || (line[digits] != ' ' && line[digits] != '\t'))
        return false;
    for (std::size_t i = 0; i < digits; ++i) {
        const char c = line[i];
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F')))
            return false;
    }
    return true;
}

using InputFile = std::unique_ptr<std::FILE, int (*)(std::FILE *)>;

// Opens fileName for reading if it is a regular file: a FIFO would block
// and a directory reads as nothing. Otherwise error says why, 0 for a kind
// of file that has no errno of its own.
InputFile openRegularFile(const std::string &fileName, int &error)
{
    InputFile none(nullptr, &std::fclose);
#ifdef ORVALEN_POSIX
    struct stat info;
    if (::stat(fileName.c_str(), &info) != 0) {
        error = errno;
        return none;
    }
    if (!S_ISREG(info.st_mode)) {
        error = S_ISDIR(info.st_mode) ? EISDIR : 0;
        return none;
    }
    // Not blocking, in case a FIFO took the file's place since the look.
    const int fd = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        error = errno;
        return none;
    }
    const bool looked = ::fstat(fd, &info) == 0;
    if (!looked || !S_ISREG(info.st_mode)) {
        error = !looked ? errno : S_ISDIR(info.st_mode) ? EISDIR : 0;
        ::close(fd);
        return none;
    }
    // Some file systems answer a non-blocking read with EAGAIN, which stdio
    // would take for an error.
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags != -1)
        (void)::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    InputFile file(::fdopen(fd, "rb"), &std::fclose);
    if (!file) {
        error = errno;
        ::close(fd);
    }
    return file;
#else
    const QFileInfo info(QFile::decodeName(QByteArray::fromStdString(fileName)));
    if (!info.isFile()) {
        error = info.isDir() ? EISDIR : info.exists() ? 0 : ENOENT;
        return none;
    }
    errno = 0;
    InputFile file(std::fopen(fileName.c_str(), "rb"), &std::fclose);
    if (!file)
        error = errno != 0 ? errno : EACCES;
    return file;
#endif
}

// Calls take(line, length) for each line of file, as the reader sees it:
// without its line feed, without a CR before that (or at the very end of
// the file), the first without a byte order mark. Stops early once take
// returns false. Returns 0, or the errno of a failed read.
template <typename Take>
int forEachLine(std::FILE *file, std::vector<char> &buffer, Take take)
{
    std::string pending;    // the start of a line that runs on into the next chunk
    bool firstLine = true;
    bool more = true;
    auto deliver = [&](const char *line, std::size_t length) {
        if (firstLine) {
            firstLine = false;
            if (length >= 3 && std::memcmp(line, "\xEF\xBB\xBF", 3) == 0) {
                line += 3;
                length -= 3;
            }
        }
        if (length > 0 && line[length - 1] == '\r')
            --length;
        more = take(line, length);
    };
    while (more) {
        const std::size_t got = std::fread(buffer.data(), 1, buffer.size(), file);
        if (got == 0) {
            if (std::ferror(file))
                return errno != 0 ? errno : EIO;
            break;
        }
        const char *data = buffer.data();
        const char *end = data + got;
        while (more && data < end) {
            const char *newline = static_cast<const char *>(std::memchr(data, '\n', end - data));
            if (!newline) {
                pending.append(data, end);
                break;
            }
            if (pending.empty()) {
                deliver(data, newline - data);
            } else {
                pending.append(data, newline);
                deliver(pending.data(), pending.size());
                pending.clear();
            }
            data = newline + 1;
        }
    }
    if (more && !pending.empty())
        deliver(pending.data(), pending.size());
    return 0;
}

#ifdef ORVALEN_POSIX

class Descriptor
{
public:
    explicit Descriptor(int fd = -1) : fd(fd) {}
    ~Descriptor() { reset(); }
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
    int get() const { return fd; }
    int release()
    {
        const int kept = fd;
        fd = -1;
        return kept;
    }
    void reset(int replacement = -1)
    {
        if (fd >= 0)
            ::close(fd);
        fd = replacement;
    }

private:
    int fd;
};

bool writeAll(int fd, const char *data, std::size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// As many links as the kernel follows in one path.
constexpr int maxLinks = 40;

// How far a time kept by the file system may lie from the one given: the
// 2 s that verify allows for coarse time stamps.
constexpr long long timeTolerance = 2000000000LL;

#ifdef O_PATH
// A folder passed on the way needs only the right to search it.
constexpr int lookupOnly = O_PATH;
#else
constexpr int lookupOnly = O_RDONLY;
#endif

// A folder where every user may make names and only their owners may take
// them away: /tmp and its kind.
bool isShared(const struct stat &folder)
{
    return (folder.st_mode & S_ISVTX) && (folder.st_mode & S_IWOTH);
}

// The kernel's protected-symlinks and protected-regular rules, whatever they
// are set to on this machine: in a shared folder, an entry that belongs to
// neither the caller nor the folder's owner was put there by another user.
// A link of theirs may lead to any file, and a file of theirs stays theirs
// to read and rewrite.
bool plantedByOther(const struct stat &folder, const struct stat &entry)
{
    return isShared(folder) && entry.st_uid != ::geteuid() && entry.st_uid != folder.st_uid;
}

// Puts the names of path before those still to be walked (the next one
// last), without empty names and ".". True when path has the form of a
// folder: it ends in a slash, "." or "..".
bool pushNames(const std::string &path, std::vector<std::string> &names)
{
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t slash = path.find('/', start);
        parts.push_back(path.substr(start, slash == std::string::npos ? std::string::npos : slash - start));
        if (slash == std::string::npos)
            break;
        start = slash + 1;
    }
    const bool folderForm = parts.back().empty() || parts.back() == "." || parts.back() == "..";
    for (auto part = parts.rbegin(); part != parts.rend(); ++part) {
        if (!part->empty() && *part != ".")
            names.push_back(std::move(*part));
    }
    return folderForm;
}

int readLink(int folder, const std::string &name, const struct stat &link, std::string &target)
{
    target.assign(std::size_t(link.st_size > 0 ? link.st_size : 255) + 1, '\0');
    for (;;) {
        const ssize_t got = ::readlinkat(folder, name.c_str(), &target[0], target.size());
        if (got < 0)
            return errno;
        if (std::size_t(got) < target.size()) {
            target.resize(std::size_t(got));
            return target.empty() ? ENOENT : 0;
        }
        target.resize(target.size() * 2);
    }
}

// Walks path one name at a time, as the kernel would, following the links
// in it and at its end, except those plantedByOther: the caller's rights
// must not carry another user's link anywhere, whether it names the file
// or a folder on the way. On success folder is the folder the file goes
// in, open for reading, name its name there and, where an entry stands at
// that name, entry its status. Returns 0 or an errno value.
int walk(const std::string &path, Descriptor &folder, std::string &name, struct stat &entry, bool &exists)
{
    exists = false;
    if (path.empty())
        return ENOENT;
    std::vector<std::string> names;
    if (pushNames(path, names) || names.empty())
        return EISDIR;
    Descriptor at(::open(path[0] == '/' ? "/" : ".", lookupOnly | O_DIRECTORY | O_CLOEXEC));
    if (at.get() < 0)
        return errno;
    int links = 0;
    for (;;) {
        std::string next = std::move(names.back());
        names.pop_back();
        const bool last = names.empty();
        struct stat info;
        if (::fstatat(at.get(), next.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno != ENOENT || !last)
                return errno;
            name = std::move(next);
            break;
        }
        if (S_ISLNK(info.st_mode)) {
            struct stat folderInfo;
            if (::fstat(at.get(), &folderInfo) != 0)
                return errno;
            if (plantedByOther(folderInfo, info))
                return EACCES;
            if (++links > maxLinks)
                return ELOOP;
            std::string target;
            if (const int error = readLink(at.get(), next, info, target))
                return error;
            if (target[0] == '/') {
                at.reset(::open("/", lookupOnly | O_DIRECTORY | O_CLOEXEC));
                if (at.get() < 0)
                    return errno;
            }
            // A link at the end that leads to a folder by its very form.
            if (pushNames(target, names) && last)
                return EISDIR;
            continue;
        }
        if (last) {
            name = std::move(next);
            entry = info;
            exists = true;
            break;
        }
        // Not followed should a link have taken the folder's place since.
        const int fd = ::openat(at.get(), next.c_str(), lookupOnly | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0)
            return errno;
        at.reset(fd);
    }
    const int fd = ::openat(at.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return errno;
    folder.reset(fd);
    return 0;
}

// Where the lines of a file that is rewritten in place wait for the commit:
// a file without a name in the temporary folder, so that memory does not
// grow with the tree and the old file stays whole until then.
int openSpool()
{
    const QByteArray folder = QFile::encodeName(QDir::tempPath());
#ifdef O_TMPFILE
    const int unnamed = ::open(folder.constData(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (unnamed >= 0)
        return unnamed;
#endif
    QByteArray pattern = folder + "/.orvalen-spool.XXXXXX";
    const int fd = ::mkstemp(pattern.data());
    if (fd < 0)
        return -1;
    (void)::unlink(pattern.constData());
    (void)::fcntl(fd, F_SETFD, FD_CLOEXEC);
    return fd;
}

bool sameTime(const struct timespec &a, const struct timespec &b)
{
    const long long apart = (static_cast<long long>(a.tv_sec) - b.tv_sec) * 1000000000LL + (a.tv_nsec - b.tv_nsec);
    return apart <= timeTolerance && apart >= -timeTolerance;
}

// The answers of a file system that keeps no Unix modes or owners (exFAT,
// FAT, many CIFS and NTFS mounts), or of an owner change only root may make.
// The file is written all the same; it just keeps what the mount gives it.
bool refusedAttribute(int error)
{
    return error == EPERM || error == ENOTSUP || error == EOPNOTSUPP || error == EINVAL;
}

int changeMode(int fd, unsigned int mode)
{
    return ::fchmod(fd, static_cast<mode_t>(mode));
}

int changeOwner(int fd, unsigned int owner, unsigned int group)
{
    return ::fchown(fd, static_cast<uid_t>(owner), static_cast<gid_t>(group));
}

int changeTimes(int fd, const struct timespec times[2])
{
    return ::futimens(fd, times);
}

std::string randomSuffix()
{
    static const char letters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::string suffix(8, 'x');
    for (char &c : suffix)
        c = letters[QRandomGenerator::global()->bounded(int(sizeof letters) - 1)];
    return suffix;
}

#endif

} // namespace

#ifdef ORVALEN_POSIX

// The new content goes to a temporary file beside the old one, which is
// replaced only once every byte has been written and synced: a full disk or
// a crash leaves the previous checksums file as it was.
struct ChecksumFile::Writer::State
{
    std::string fileName;
    int error = 0;
    bool prepared = false;
    bool committed = false;
    Descriptor directory;       // the folder the file goes in, opened once
    std::string name;           // its name in that folder
    Descriptor temporary;
    std::string temporaryName;
    // Where the folder takes no new file: the file itself, to be rewritten
    // from temporary (then a spool without a name) at commit.
    Descriptor inPlace;
    // Lines appended and not yet written.
    std::string pending;
    // An append failed: what was appended is gone, so nothing may follow.
    bool broken = false;
    // The temporary file's own time stamp: when the scan began, by the
    // clock of the file system that keeps the checksums file.
    struct timespec started = {0, UTIME_OMIT};
    mode_t newMode = 0644;
    ModeCall modeCall = &changeMode;
    OwnerCall ownerCall = &changeOwner;
    TimesCall timesCall = &changeTimes;
    bool timeKept = false;
    bool foundAtName = false;
    std::string committedPath;

    void discard()
    {
        if (!temporaryName.empty() && !committed)
            (void)::unlinkat(directory.get(), temporaryName.c_str(), 0);
        temporaryName.clear();
        temporary.reset();
        inPlace.reset();
        directory.reset();
        pending.clear();
        prepared = false;
        committed = false;
    }
    bool fail(int reason)
    {
        discard();
        error = reason;
        return false;
    }
    bool prepareInPlace(Descriptor &folder, const struct stat &entry, int refusal);
    bool rewriteInPlace();
    bool settle(int fd);
};

bool ChecksumFile::Writer::prepare()
{
    State &s = *state;
    if (s.prepared)
        return true;
    s.discard();
    s.error = 0;

    // A link to a checksums file stays a link: its target is replaced, or
    // created where it leads nowhere yet.
    Descriptor directory;
    std::string name;
    struct stat entry = {};
    bool exists = false;
    if (const int error = walk(s.fileName, directory, name, entry, exists))
        return s.fail(error);
    s.name = name;
    if (exists) {
        // Directories, FIFOs and devices are no checksums files; and a file
        // we may not write stays as it is.
        if (S_ISDIR(entry.st_mode))
            return s.fail(EISDIR);
        if (!S_ISREG(entry.st_mode))
            return s.fail(EINVAL);
        struct stat folderInfo;
        if (::fstat(directory.get(), &folderInfo) != 0)
            return s.fail(errno);
        if (plantedByOther(folderInfo, entry))
            return s.fail(EACCES);
        if (::faccessat(directory.get(), name.c_str(), W_OK, AT_EACCESS) != 0)
            return s.fail(errno);
    }

    // Read while no other thread of ours creates files.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    s.newMode = 0666 & ~mask;

    // Creating the temporary file now is the one sure test that the folder
    // takes a new file. A dot name: a scan of the same tree does not list it.
    for (int attempt = 0;; ++attempt) {
        std::string temporaryName = '.' + name + '.' + randomSuffix();
        const int fd = ::openat(directory.get(), temporaryName.c_str(),
                                O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0) {
            s.directory.reset(directory.release());
            s.temporary.reset(fd);
            struct stat created;
            if (::fstat(fd, &created) == 0)
#if defined(__APPLE__)
                s.started = created.st_mtimespec;
#else
                s.started = created.st_mtim;
#endif
            s.temporaryName = std::move(temporaryName);
            break;
        }
        if (errno == EEXIST && attempt < 100)
            continue;
        if (exists && (errno == EACCES || errno == EPERM))
            return s.prepareInPlace(directory, entry, errno);
        return s.fail(errno);
    }
    s.prepared = true;
    return true;
}

// A file that may be written in a folder that takes no new one: the old way
// of writing a checksums file, truncating and writing it where it stands,
// is the only one left. The file is opened now, so that the commit writes
// the very file that was checked.
bool ChecksumFile::Writer::State::prepareInPlace(Descriptor &folder, const struct stat &entry, int refusal)
{
    // Not blocking, in case a FIFO took the file's place since the look.
    const int fd = ::openat(folder.get(), name.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return fail(errno);
    inPlace.reset(fd);
    struct stat opened;
    if (::fstat(fd, &opened) != 0)
        return fail(errno);
    if (!S_ISREG(opened.st_mode) || opened.st_dev != entry.st_dev || opened.st_ino != entry.st_ino)
        return fail(refusal);
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags != -1)
        (void)::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    temporary.reset(openSpool());
    if (temporary.get() < 0)
        return fail(errno);
    // No new file stamps the start here; the system's clock stands in for
    // the file system's.
    (void)::clock_gettime(CLOCK_REALTIME, &started);
    directory.reset(folder.release());
    prepared = true;
    return true;
}

bool ChecksumFile::Writer::append(const std::string &path, const std::string &digest)
{
    State &s = *state;
    if (s.broken)
        return false;
    s.broken = true;
    if (!fitsOnOneLine(path, digest)) {
        s.discard();
        s.error = 0;
        return false;
    }
    if (s.committed)
        return s.fail(EINVAL);
    if (!prepare())
        return false;
    appendLine(s.pending, path, digest);
    if (s.pending.size() >= ioChunk) {
        if (!writeAll(s.temporary.get(), s.pending.data(), s.pending.size()))
            return s.fail(errno);
        s.pending.clear();
    }
    s.broken = false;
    return true;
}

// Gives the file written the scan's start as its times, syncs it, and
// learns whether the file system kept that time. Both times are given:
// exfat-fuse takes a time left out (UTIME_OMIT) for "now", and the
// modification time with it.
bool ChecksumFile::Writer::State::settle(int fd)
{
    // The file's time says when its records were taken, not when they were
    // written: a file edited during the scan is later than it, and counts
    // as edited rather than damaged. A file system that refuses it still
    // gets its checksums file.
    const struct timespec times[2] = {started, started};
    (void)timesCall(fd, times);
    if (::fsync(fd) != 0)
        return false;
    struct stat written;
    timeKept = started.tv_nsec != UTIME_OMIT && ::fstat(fd, &written) == 0
#if defined(__APPLE__)
               && sameTime(written.st_mtimespec, started);
#else
               && sameTime(written.st_mtim, started);
#endif
    return true;
}

// Truncates the file and writes the spooled lines into it. Between the two
// the file is incomplete: a failure here, or a crash, leaves it so.
bool ChecksumFile::Writer::State::rewriteInPlace()
{
    const int target = inPlace.get();
    if (::ftruncate(target, 0) != 0 || ::lseek(target, 0, SEEK_SET) != 0)
        return fail(errno);
    std::vector<char> buffer(ioChunk);
    for (off_t at = 0;;) {
        const ssize_t got = ::pread(temporary.get(), buffer.data(), buffer.size(), at);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return fail(errno);
        if (got == 0)
            break;
        if (!writeAll(target, buffer.data(), std::size_t(got)))
            return fail(errno);
        at += got;
    }
    if (!settle(target))
        return fail(errno);
    // The spool goes; the file itself is what committedFile() gives.
    temporary.reset(inPlace.release());
    committed = true;
    return true;
}

bool ChecksumFile::Writer::commit()
{
    State &s = *state;
    if (s.broken)
        return false;
    if (s.committed)
        return s.fail(EINVAL);
    if (!prepare())
        return false;
    const int out = s.temporary.get();
    if (!writeAll(out, s.pending.data(), s.pending.size()))
        return s.fail(errno);
    s.pending = std::string();

    if (s.inPlace.get() >= 0) {
        if (!s.rewriteInPlace())
            return false;
    } else {
        // Owner and mode come from the entry that is replaced now, not from
        // whatever the name showed before the scan; only a regular file is
        // replaced, never a link or a folder put there meanwhile, nor a file
        // another user put in a shared folder.
        mode_t mode = s.newMode;
        struct stat entry;
        if (::fstatat(s.directory.get(), s.name.c_str(), &entry, AT_SYMLINK_NOFOLLOW) == 0) {
            if (!S_ISREG(entry.st_mode))
                return s.fail(S_ISDIR(entry.st_mode) ? EISDIR : EEXIST);
            struct stat folderInfo;
            if (::fstat(s.directory.get(), &folderInfo) != 0)
                return s.fail(errno);
            if (plantedByOther(folderInfo, entry))
                return s.fail(EACCES);
            mode = entry.st_mode & 07777;
            // Root replacing another user's file gives it back to its owner.
            if ((entry.st_uid != ::geteuid() || entry.st_gid != ::getegid())
                && s.ownerCall(out, entry.st_uid, entry.st_gid) != 0 && !refusedAttribute(errno))
                return s.fail(errno);
        } else if (errno != ENOENT) {
            return s.fail(errno);
        }
        if (s.modeCall(out, mode) != 0 && !refusedAttribute(errno))
            return s.fail(errno);
        if (!s.settle(out))
            return s.fail(errno);
        if (::renameat(s.directory.get(), s.temporaryName.c_str(), s.directory.get(), s.name.c_str()) != 0)
            return s.fail(errno);
        s.committed = true;
        s.temporaryName.clear();
        // The rename itself reaches the disk with the directory.
        (void)::fsync(s.directory.get());
    }

    // The folder was opened once and written through its descriptor: moved
    // meanwhile, it took the file along, and the name as given now leads
    // elsewhere or nowhere.
    struct stat placed;
    struct stat named;
    s.foundAtName = ::fstat(s.temporary.get(), &placed) == 0 && ::stat(s.fileName.c_str(), &named) == 0
                    && placed.st_dev == named.st_dev && placed.st_ino == named.st_ino;
    s.committedPath.clear();
    if (!s.foundAtName) {
        const std::string link = "/proc/self/fd/" + std::to_string(s.directory.get());
        std::string folder(4096, '\0');
        const ssize_t got = ::readlink(link.c_str(), &folder[0], folder.size());
        if (got > 0 && std::size_t(got) < folder.size() && folder[0] == '/') {
            folder.resize(std::size_t(got));
            s.committedPath = folder + (folder == "/" ? "" : "/") + s.name;
        }
    }
    return true;
}

int ChecksumFile::Writer::committedFile() const
{
    return state->committed ? state->temporary.get() : -1;
}

bool ChecksumFile::Writer::timeKept() const
{
    return state->committed && state->timeKept;
}

bool ChecksumFile::Writer::foundAtName() const
{
    return state->committed && state->foundAtName;
}

std::string ChecksumFile::Writer::committedPath() const
{
    return state->committed ? state->committedPath : std::string();
}

int ChecksumFile::Writer::temporaryFolder() const
{
    return state->temporaryName.empty() ? -1 : state->directory.get();
}

const char *ChecksumFile::Writer::temporaryName() const
{
    return state->temporaryName.empty() ? nullptr : state->temporaryName.c_str();
}

void ChecksumFile::Writer::setAttributeCalls(ModeCall mode, OwnerCall owner)
{
    state->modeCall = mode ? mode : &changeMode;
    state->ownerCall = owner ? owner : &changeOwner;
}

void ChecksumFile::Writer::setTimesCall(TimesCall times)
{
    state->timesCall = times ? times : &changeTimes;
}

#else

struct ChecksumFile::Writer::State
{
    std::string fileName;
    int error = 0;
    bool prepared = false;
    bool committed = false;
    std::string pending;
    bool broken = false;

    void discard()
    {
        pending.clear();
        prepared = false;
        committed = false;
    }
    bool fail(int reason)
    {
        discard();
        error = reason;
        return false;
    }
};

bool ChecksumFile::Writer::prepare()
{
    State &s = *state;
    if (s.prepared)
        return true;
    s.error = 0;
    const QString name = QFile::decodeName(QByteArray::fromStdString(s.fileName));
    if (name.isEmpty() || QFile::encodeName(name).toStdString() != s.fileName)
        return s.fail(EINVAL);
    const QFileInfo existing(name);
    if (existing.exists()) {
        if (existing.isDir())
            return s.fail(EISDIR);
        if (!existing.isFile())
            return s.fail(EINVAL);
        if (!existing.isWritable())
            return s.fail(EACCES);
    } else if (!QFileInfo(existing.absolutePath()).isDir()) {
        return s.fail(ENOENT);
    }
    s.prepared = true;
    return true;
}

bool ChecksumFile::Writer::append(const std::string &path, const std::string &digest)
{
    State &s = *state;
    if (s.broken)
        return false;
    s.broken = true;
    if (!fitsOnOneLine(path, digest))
        return s.fail(0);
    if (s.committed || !prepare())
        return s.fail(s.committed ? EINVAL : s.error);
    appendLine(s.pending, path, digest);
    s.broken = false;
    return true;
}

bool ChecksumFile::Writer::commit()
{
    State &s = *state;
    if (s.broken)
        return false;
    if (s.committed || !prepare())
        return s.fail(s.committed ? EINVAL : s.error);
    QSaveFile out(QFile::decodeName(QByteArray::fromStdString(s.fileName)));
    if (!out.open(QIODevice::WriteOnly))
        return s.fail(EACCES);
    const qint64 size = static_cast<qint64>(s.pending.size());
    if (out.write(s.pending.data(), size) != size || !out.commit())
        return s.fail(EIO);
    s.pending = std::string();
    s.committed = true;
    return true;
}

int ChecksumFile::Writer::committedFile() const
{
    return -1;
}

bool ChecksumFile::Writer::timeKept() const
{
    return state->committed;
}

bool ChecksumFile::Writer::foundAtName() const
{
    return state->committed;
}

std::string ChecksumFile::Writer::committedPath() const
{
    return std::string();
}

void ChecksumFile::Writer::setTimesCall(TimesCall)
{
}

int ChecksumFile::Writer::temporaryFolder() const
{
    return -1;
}

const char *ChecksumFile::Writer::temporaryName() const
{
    return nullptr;
}

void ChecksumFile::Writer::setAttributeCalls(ModeCall, OwnerCall)
{
}

#endif

ChecksumFile::Writer::Writer(const std::string &fileName) : state(std::make_unique<State>())
{
    state->fileName = fileName;
}

ChecksumFile::Writer::~Writer()
{
    state->discard();
}

bool ChecksumFile::Writer::commit(const std::vector<HashRecord> &records)
{
    // Every record is checked before a byte is written: a record that
    // would not read back leaves nothing behind.
    for (const HashRecord &record : records) {
        if (!fitsOnOneLine(record.path, record.hash)) {
            state->discard();
            state->error = 0;
            return false;
        }
    }
    for (const HashRecord &record : records) {
        if (!append(record.path, record.hash))
            return false;
    }
    return commit();
}

int ChecksumFile::Writer::error() const
{
    return state->error;
}

const std::string &ChecksumFile::Writer::fileName() const
{
    return state->fileName;
}

bool ChecksumFile::write(const std::string &fileName, const std::vector<HashRecord> &records)
{
    Writer writer(fileName);
    return writer.commit(records);
}

bool ChecksumFile::read(const std::string &fileName, std::vector<HashRecord> &records)
{
    const std::size_t kept = records.size();
    int error = 0;
    const InputFile file = openRegularFile(fileName, error);
    if (!file)
        return false;

    std::vector<char> buffer(ioChunk);

    // Counting the lines first lets the list grow once: growing it step by
    // step would copy it and touch twice its memory.
    std::size_t lines = 1;
    while (const std::size_t got = std::fread(buffer.data(), 1, ioChunk, file.get()))
        lines += static_cast<std::size_t>(std::count(buffer.data(), buffer.data() + got, '\n'));
    if (std::ferror(file.get()) || std::fseek(file.get(), 0, SEEK_SET) != 0)
        return false;
    try {
        records.reserve(kept + lines);
        adviseLargePages(records.data() + kept, lines * sizeof(HashRecord));
    } catch (const std::exception &) {
        // Only the blank lines of a huge file could ask for this much.
    }
    const bool read = readOpen(file.get(), buffer, [&records](const char *path, std::size_t pathLength,
                                                               const char *digest, std::size_t digestLength) {
        records.push_back(HashRecord{std::string(path, pathLength), std::string(digest, digestLength)});
    });
    if (!read)
        records.resize(kept);
    return read;
}

bool ChecksumFile::read(const std::string &fileName, const RecordTaker &take)
{
    int error = 0;
    const InputFile file = openRegularFile(fileName, error);
    if (!file)
        return false;
    std::vector<char> buffer(ioChunk);
    return readOpen(file.get(), buffer, take);
}

bool ChecksumFile::readOpen(std::FILE *file, std::vector<char> &buffer, const RecordTaker &take)
{
    bool anyLine = false;
    bool anyRecord = false;
    const int error = forEachLine(file, buffer, [&](const char *line, std::size_t length) {
        anyLine = true;
        anyRecord = anyRecord || isRecordLine(line, length);
        readLine(line, length, take);
        return true;
    });
    return error == 0 && (!anyLine || anyRecord);
}

ChecksumFile::Verdict ChecksumFile::inspect(const std::string &fileName, int &error)
{
    error = 0;
    const InputFile file = openRegularFile(fileName, error);
    if (!file)
        return Verdict::CannotRead;
    // A checksums file shows what it is in its first line; only some other
    // file is read to its end before it is refused.
    std::vector<char> buffer(1 << 16);
    bool anyLine = false;
    bool anyRecord = false;
    error = forEachLine(file.get(), buffer, [&](const char *line, std::size_t length) {
        anyLine = true;
        anyRecord = isRecordLine(line, length);
        return !anyRecord;
    });
    if (error != 0)
        return Verdict::CannotRead;
    return anyLine && !anyRecord ? Verdict::NotChecksumsFile : Verdict::Usable;
}
