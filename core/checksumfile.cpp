#include "checksumfile.h"

#include "largepages.h"

#include <QByteArray>
#include <QFile>
#include <QFileInfo>
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
bool fitsOnOneLine(const HashRecord &record)
{
    if (record.hash.empty())
        return false;
    for (char c : record.hash)
        if (isFormatSpace(c))
            return false;
    return record.path.find('\n') == std::string::npos;
}

// Reads the record of one line, as the writer made it: the first token is
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

// Calls sink with the content in pieces of at most ioChunk bytes; false as
// soon as sink does.
template <typename Sink>
bool forEachPiece(const std::vector<HashRecord> &records, Sink sink)
{
    std::string buffer;
    buffer.reserve(ioChunk + 4096);
    for (const HashRecord &record : records) {
        buffer += record.hash;
        buffer += ' ';
        buffer += record.path;
        buffer += "\r\n";
        if (buffer.size() >= ioChunk) {
            if (!sink(buffer))
                return false;
            buffer.clear();
        }
    }
    return buffer.empty() || sink(buffer);
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
    void reset()
    {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
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

// The new content goes to a temporary file beside the old one, which is
// replaced only once every byte has been written and synced: a full disk or
// a crash leaves the previous checksums file as it was.
bool replaceFile(const std::string &fileName, const std::vector<HashRecord> &records)
{
    // A link to a checksums file stays a link: its target is replaced.
    std::string target = fileName;
    struct stat existing;
    const bool exists = ::stat(fileName.c_str(), &existing) == 0;
    if (exists) {
        // Directories, FIFOs and devices are no checksums files; and a file
        // we may not write stays as it is.
        if (!S_ISREG(existing.st_mode) || ::access(fileName.c_str(), W_OK) != 0)
            return false;
        if (char *resolved = ::realpath(fileName.c_str(), nullptr)) {
            target = resolved;
            std::free(resolved);
        }
    } else if (errno != ENOENT) {
        return false;
    }

    const std::size_t slash = target.rfind('/');
    const std::string dir = slash == std::string::npos ? std::string(".")
                                                       : target.substr(0, slash == 0 ? 1 : slash);
    const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
    // A dot name: a scan of the same tree does not list a leftover.
    std::string temporary = (slash == std::string::npos ? std::string() : target.substr(0, slash + 1))
                            + '.' + base + ".XXXXXX";
    Descriptor out(::mkstemp(&temporary[0]));
    if (out.get() < 0)
        return false;
    ::fcntl(out.get(), F_SETFD, FD_CLOEXEC);

    bool written = forEachPiece(records, [&](const std::string &piece) {
        return writeAll(out.get(), piece.data(), piece.size());
    });
    if (written) {
        mode_t mode;
        if (exists) {
            mode = existing.st_mode & 07777;
            // Root replacing another user's file gives it back to its owner.
            if (existing.st_uid != ::geteuid() || existing.st_gid != ::getegid())
                (void)::fchown(out.get(), existing.st_uid, existing.st_gid);
        } else {
            const mode_t mask = ::umask(0);
            ::umask(mask);
            mode = 0666 & ~mask;
        }
        written = ::fchmod(out.get(), mode) == 0 && ::fsync(out.get()) == 0;
    }
    // The descriptor is gone whatever close says.
    const int closed = ::close(out.release());
    if (!written || closed != 0 || ::rename(temporary.c_str(), target.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return false;
    }
    // The rename itself reaches the disk with the directory.
    Descriptor directory(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (directory.get() >= 0)
        (void)::fsync(directory.get());
    return true;
}

#else

bool replaceFile(const std::string &fileName, const std::vector<HashRecord> &records)
{
    const QString name = QFile::decodeName(QByteArray::fromStdString(fileName));
    if (name.isEmpty() || QFile::encodeName(name).toStdString() != fileName)
        return false;
    const QFileInfo existing(name);
    if (existing.exists() && (!existing.isFile() || !existing.isWritable()))
        return false;
    QSaveFile out(name);
    if (!out.open(QIODevice::WriteOnly))
        return false;
    const bool written = forEachPiece(records, [&](const std::string &piece) {
        const qint64 size = static_cast<qint64>(piece.size());
        return out.write(piece.data(), size) == size;
    });
    return written && out.commit();
}

#endif

} // namespace

bool ChecksumFile::write(const std::string &fileName, const std::vector<HashRecord> &records)
{
    if (fileName.empty())
        return false;
    for (const HashRecord &record : records)
        if (!fitsOnOneLine(record))
            return false;
    return replaceFile(fileName, records);
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

    bool anyLine = false;
    bool anyRecord = false;
    error = forEachLine(file.get(), buffer, [&](const char *line, std::size_t length) {
        anyLine = true;
        anyRecord = anyRecord || isRecordLine(line, length);
        readLine(line, length, records);
        return true;
    });
    if (error != 0 || (anyLine && !anyRecord)) {
        records.resize(kept);
        return false;
    }
    return true;
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
