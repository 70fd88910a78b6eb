#include "checksumfile.h"

#include "checksumline.h"

#include "largepages.h"

#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <QString>

#include <algorithm>
#include <cerrno>
#include <cstdint>
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

// Reads the record of one line, as the writer made it: the first token is
// the digest, and the path starts one character after the token's length,
// counted from the start of the line.
void readLine(const char *line, std::size_t length, const ChecksumFile::RecordTaker &take)
{
    // Nearly every line is a digest of 64 digits, a space and the path:
    // those are told apart eight bytes at a time, not one by one.
    constexpr std::size_t digits = 64;
    if (length > digits && ChecksumLine::isFormatSpace(line[digits])
        && ChecksumLine::spacelessWords(line, digits) == digits) {
        take(line + digits + 1, length - digits - 1, line, digits);
        return;
    }
    std::size_t begin = 0;
    while (begin < length && ChecksumLine::isFormatSpace(line[begin]))
        ++begin;
    // A blank line carries no record; the lines after it still do.
    if (begin == length)
        return;
    std::size_t end = begin;
    while (end < length && !ChecksumLine::isFormatSpace(line[end]))
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
InputFile openChecksumsFile(const std::string &fileName, int &error)
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

} // namespace

bool ChecksumFile::write(const std::string &fileName, const std::vector<HashRecord> &records)
{
    Writer writer(fileName);
    return writer.commit(records);
}

bool ChecksumFile::read(const std::string &fileName, std::vector<HashRecord> &records)
{
    const std::size_t kept = records.size();
    int error = 0;
    const InputFile file = openChecksumsFile(fileName, error);
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
    const InputFile file = openChecksumsFile(fileName, error);
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
    const InputFile file = openChecksumsFile(fileName, error);
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
