#include "filereader.h"

#include "hashwrapper.h"

#if !defined(_WIN32)
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>
#endif

filereader::filereader(int fd, bool overlap) : fd(fd)
{
    const int buffers = overlap ? ringSize : 1;
    for (int i = 0; i < buffers; ++i)
        ring[i].bytes.reset(new unsigned char[hashwrapper::fileChunkSize]);
    if (overlap)
        reader = std::thread(&filereader::readLoop, this);
}

filereader::~filereader()
{
    if (reader.joinable()) {
        {
            std::lock_guard<std::mutex> guard(lock);
            stopping = true;
        }
        changed.notify_all();
        reader.join();
    }
}

long filereader::readChunk(int fd, unsigned char *buffer)
{
#if defined(_WIN32)
    (void)fd;
    (void)buffer;
    return -1;
#else
    // A short read is not the end of a regular file; only 0 is.
    long filled = 0;
    while (filled < static_cast<long>(hashwrapper::fileChunkSize)) {
        const ssize_t n = ::read(fd, buffer + filled, hashwrapper::fileChunkSize - filled);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            // The file was opened non-blocking, so that a FIFO could not
            // hang the open; some network and user-space file systems honour
            // that on regular files too. Of the flags F_SETFL changes, the
            // open set none but that one.
            if ((errno == EAGAIN || errno == EWOULDBLOCK) && ::fcntl(fd, F_SETFL, 0) == 0)
                continue;
            return -1;
        }
        if (n == 0)
            break;
        filled += static_cast<long>(n);
    }
    return filled;
#endif
}

long filereader::next(const unsigned char **data)
{
    if (!reader.joinable()) {
        const long n = readChunk(fd, ring[0].bytes.get());
        *data = ring[0].bytes.get();
        return n;
    }

    std::unique_lock<std::mutex> guard(lock);
    if (handedOne) {
        // The caller is done with the piece handed out last time.
        Piece &previous = ring[(nextToHand + ringSize - 1) % ringSize];
        previous.filled = false;
        changed.notify_all();
    }
    Piece &piece = ring[nextToHand];
    changed.wait(guard, [&] { return piece.filled; });
    nextToHand = (nextToHand + 1) % ringSize;
    handedOne = true;
    *data = piece.bytes.get();
    return piece.length;
}

void filereader::readLoop()
{
#if defined(POSIX_FADV_WILLNEED)
    // The kernel's own read-ahead keeps only a few hundred KiB in flight,
    // far from what a fast disk needs to stream: ask for the next stretch
    // ahead of the reads, a step at a time.
    constexpr long long step = 4LL * 1024 * 1024;
    constexpr long long ahead = 32LL * 1024 * 1024;
    long long position = ::lseek(fd, 0, SEEK_CUR);
    long long asked = position;
#endif
    for (int slot = 0;; slot = (slot + 1) % ringSize) {
#if defined(POSIX_FADV_WILLNEED)
        if (position >= 0 && position + ahead - step >= asked) {
            (void)::posix_fadvise(fd, asked, position + ahead - asked, POSIX_FADV_WILLNEED);
            asked = position + ahead;
        }
#endif
        Piece &piece = ring[slot];
        {
            std::unique_lock<std::mutex> guard(lock);
            changed.wait(guard, [&] { return stopping || !piece.filled; });
            if (stopping)
                return;
        }
        // The piece is free: the consumer does not touch it until it is
        // marked filled under the lock.
        const long n = readChunk(fd, piece.bytes.get());
#if defined(POSIX_FADV_WILLNEED)
        if (n > 0 && position >= 0)
            position += n;
#endif
        {
            std::lock_guard<std::mutex> guard(lock);
            piece.length = n;
            piece.filled = true;
        }
        changed.notify_all();
        if (n <= 0)
            return;
    }
}
