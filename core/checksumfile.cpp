#include "checksumfile.h"

#include "largepages.h"

#include <QByteArray>
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

#if defined(Q_OS_UNIX)
#define ORVALEN_POSIX_FILES
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
#ifdef ORVALEN_POSIX_FILES
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

#ifdef ORVALEN_POSIX_FILES

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

// The folder part of path ("." for none) and its last name.
void split(const std::string &path, std::string &folder, std::string &name)
{
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        folder = ".";
        name = path;
        return;
    }
    folder = slash == 0 ? std::string("/") : path.substr(0, slash);
    name = path.substr(slash + 1);
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

#ifdef ORVALEN_POSIX_FILES

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

    void discard()
    {
        if (!temporaryName.empty() && !committed)
            (void)::unlinkat(directory.get(), temporaryName.c_str(), 0);
        temporaryName.clear();
        temporary.reset();
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
};

bool ChecksumFile::Writer::prepare()
{
    State &s = *state;
    if (s.prepared)
        return true;
    s.discard();
    s.error = 0;
    if (s.fileName.empty())
        return s.fail(ENOENT);

    // A link to a checksums file stays a link: its target is replaced, or
    // created where it leads nowhere yet. In a folder that is sticky and
    // writable for all, a link is followed only where the kernel's
    // protected-symlinks rule would follow it, whatever that rule is set to
    // on this machine: another user's link there may lead to any file.
    Descriptor directory;
    std::string path = s.fileName;
    std::string name;
    struct stat entry;
    bool exists = false;
    for (int links = 0;; ++links) {
        std::string folder;
        split(path, folder, name);
        const int fd = ::openat(directory.get() >= 0 ? directory.get() : AT_FDCWD, folder.c_str(),
                                O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0)
            return s.fail(errno);
        directory.reset(fd);
        if (name.empty() || name == "." || name == "..")
            return s.fail(EISDIR);
        if (::fstatat(directory.get(), name.c_str(), &entry, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno != ENOENT)
                return s.fail(errno);
            break;
        }
        if (!S_ISLNK(entry.st_mode)) {
            exists = true;
            break;
        }
        struct stat folderInfo;
        if (::fstat(directory.get(), &folderInfo) != 0)
            return s.fail(errno);
        const bool shared = (folderInfo.st_mode & S_ISVTX) && (folderInfo.st_mode & S_IWOTH);
        if (shared && entry.st_uid != ::geteuid() && entry.st_uid != folderInfo.st_uid)
            return s.fail(EACCES);
        if (links == maxLinks)
            return s.fail(ELOOP);
        std::string target(std::size_t(entry.st_size > 0 ? entry.st_size : 255) + 1, '\0');
        for (;;) {
            const ssize_t got = ::readlinkat(directory.get(), name.c_str(), &target[0], target.size());
            if (got < 0)
                return s.fail(errno);
            if (std::size_t(got) < target.size()) {
                target.resize(std::size_t(got));
                break;
            }
            target.resize(target.size() * 2);
        }
        if (target.empty())
            return s.fail(ENOENT);
        path = target;
    }
    if (exists) {
        // Directories, FIFOs and devices are no checksums files; and a file
        // we may not write stays as it is.
        if (S_ISDIR(entry.st_mode))
            return s.fail(EISDIR);
        if (!S_ISREG(entry.st_mode))
            return s.fail(EINVAL);
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
        if (errno != EEXIST || attempt == 100)
            return s.fail(errno);
    }
    s.name = name;
    s.prepared = true;
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

    // Owner and mode come from the entry that is replaced now, not from
    // whatever the name showed before the scan; only a regular file is
    // replaced, never a link or a folder put there meanwhile.
    mode_t mode = s.newMode;
    struct stat entry;
    if (::fstatat(s.directory.get(), s.name.c_str(), &entry, AT_SYMLINK_NOFOLLOW) == 0) {
        if (!S_ISREG(entry.st_mode))
            return s.fail(S_ISDIR(entry.st_mode) ? EISDIR : EEXIST);
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
    // The file's time says when its records were taken, not when they were
    // written: a file edited during the scan is later than it, and counts
    // as edited rather than damaged. A file system that refuses it still
    // gets its checksums file.
    const struct timespec times[2] = {{0, UTIME_OMIT}, s.started};
    (void)::futimens(out, times);
    if (::fsync(out) != 0)
        return s.fail(errno);
    if (::renameat(s.directory.get(), s.temporaryName.c_str(), s.directory.get(), s.name.c_str()) != 0)
        return s.fail(errno);
    s.committed = true;
    s.temporaryName.clear();
    // The rename itself reaches the disk with the directory.
    (void)::fsync(s.directory.get());
    return true;
}

int ChecksumFile::Writer::committedFile() const
{
    return state->committed ? state->temporary.get() : -1;
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
