#include "filereader.h"

#include "filepieces.h"

#include <new>
#include <system_error>
#include <algorithm>
#include <atomic>

#if defined(ORVALEN_POSIX)
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>
#endif
#if defined(__linux__)
#include <linux/magic.h>
#include <sys/vfs.h>
#endif

namespace {

std::atomic<std::size_t> memoryPieceSize{filereader::defaultMemoryPieceSize};
std::atomic<long long> missFrom{-1};
std::atomic<filereader::PieceHook> pieceHook{nullptr};

#if defined(__linux__)
// tmpfs and ramfs cannot be asked to read without waiting, yet hold every
// byte in memory: there is no device to wait for.
bool heldInMemory(int fd)
{
    struct statfs info;
    return ::fstatfs(fd, &info) == 0
           && (info.f_type == TMPFS_MAGIC || info.f_type == RAMFS_MAGIC);
}
#endif

} // namespace

void filereader::setMemoryPieceSize(std::size_t bytes)
{
    memoryPieceSize = std::min<std::size_t>(std::max<std::size_t>(bytes, 4096),
                                            filepieces::chunkSize);
}

void filereader::pretendMissFrom(long long offset)
{
    missFrom = offset;
}

void filereader::setPieceHook(PieceHook hook)
{
    pieceHook = hook;
}

filereader::filereader(int fd, bool overlap, long long size, bool probeCache, unsigned char *buffer)
    : fd(fd), size(size), overlap(overlap), memoryPiece(memoryPieceSize.load()),
      probe(probeCache), fromMemory(overlap || size >= filepieces::overlapFileSize)
{
    const int buffers = overlap ? ringSize : 1;
    for (int i = 0; i < buffers; ++i) {
        if (i == 0 && buffer) {
            ring[i].bytes = buffer;
            continue;
        }
        ring[i].owned.reset(new unsigned char[filepieces::chunkSize]);
        ring[i].bytes = ring[i].owned.get();
    }
}

void filereader::startReader()
{
    // Where the system has no thread to spare, the caller reads for itself.
    try {
        std::unique_ptr<Overlap> starting(new Overlap);
        starting->reader = std::thread(&filereader::readLoop, this, starting.get());
        second = std::move(starting);
    } catch (const std::system_error &) {
    } catch (const std::bad_alloc &) {
    }
}

filereader::~filereader()
{
    if (second) {
        {
            std::lock_guard<std::mutex> guard(second->lock);
            second->stopping = true;
        }
        second->changed.notify_all();
        second->reader.join();
    }
}

long filereader::readChunk(unsigned char *buffer)
{
#if !defined(ORVALEN_POSIX)
    (void)buffer;
    return -1;
#else
    if (atEnd)
        return 0;
    long filled = 0;
    while (filled < static_cast<long>(filepieces::chunkSize)) {
        const std::size_t wanted = filepieces::chunkSize - filled;
        ssize_t n;
        if (probe) {
            probe = false;
            // On a miss the plain read below waits for the kernel's read
            // that this one started.
            n = filepieces::readWithoutWaiting(fd, buffer + filled, wanted, position);
            if (n < 0) {
                missed = true;
                continue;
            }
        } else {
            n = ::pread(fd, buffer + filled, wanted, position);
        }
        if (n < 0) {
            if (errno == EINTR)
                continue;
            // The file was opened non-blocking, so that a FIFO could not
            // hang the open; some network and user-space file systems honour
            // that on regular files too. Of the flags F_SETFL changes, the
            // open set none but that one.
            if ((errno == EAGAIN || errno == EWOULDBLOCK) && ::fcntl(fd, F_SETFL, 0) == 0)
                continue;
            failure = errno;
            return -1;
        }
        if (n == 0) {
            atEnd = true;
            break;
        }
        filled += static_cast<long>(n);
        position += n;
        // A read of a regular file stops short only at its end (or at a
        // failure, which the next read reports). Where that end is the
        // size the file had when opened, asking again would only find 0.
        if (static_cast<std::size_t>(n) < wanted && position == size) {
            atEnd = true;
            break;
        }
    }
    return filled;
#endif
}

long filereader::readFromMemory(unsigned char *buffer)
{
#if !defined(ORVALEN_POSIX)
    (void)buffer;
    return -1;
#else
    if (atEnd)
        return 0;
    for (;;) {
        std::size_t wanted = memoryPiece;
        const long long pretended = missFrom.load(std::memory_order_relaxed);
        ssize_t n;
        if (pretended >= 0 && position >= pretended) {
            n = -1;
            errno = EAGAIN;
        } else {
            if (pretended >= 0)
                wanted = static_cast<std::size_t>(
                    std::min<long long>(static_cast<long long>(wanted), pretended - position));
            // Where the system cannot read without waiting, the call fails
            // without setting errno.
            errno = 0;
            n = memoryFileSystem ? ::pread(fd, buffer, wanted, position)
                                 : filepieces::readWithoutWaiting(fd, buffer, wanted, position);
        }
        if (n < 0) {
            if (errno == EINTR)
                continue;
#if defined(__linux__)
            if (errno == EOPNOTSUPP && !memoryFileSystem && heldInMemory(fd)) {
                memoryFileSystem = true;
                // The kernel still could not be asked.
                if (probe)
                    missed = true;
                probe = false;
                continue;
            }
#endif
            // Failures too are left to the device read, which reports them.
            if (probe)
                missed = true;
            probe = false;
            return -1;
        }
        probe = false;
        position += n;
        if (n == 0 || (static_cast<std::size_t>(n) < wanted && position == size))
            atEnd = true;
        return static_cast<long>(n);
    }
#endif
}

long filereader::next(const unsigned char **data)
{
    const long n = nextPiece(data);
    if (n > 0) {
        if (const PieceHook hook = pieceHook.load(std::memory_order_relaxed))
            hook(fd);
    }
    return n;
}

long filereader::nextPiece(const unsigned char **data)
{
    if (fromMemory) {
        const long n = readFromMemory(ring[0].bytes);
        if (n >= 0) {
            *data = ring[0].bytes;
            return n;
        }
        // Once one piece had to come from the device, the next ones will
        // most likely too: from here the disk is kept busy.
        fromMemory = false;
        if (overlap)
            startReader();
    }
    if (!second) {
        const long n = readChunk(ring[0].bytes);
        *data = ring[0].bytes;
        return n;
    }

    std::unique_lock<std::mutex> guard(second->lock);
    if (handedOne) {
        // The caller is done with the piece handed out last time.
        Piece &previous = ring[(nextToHand + ringSize - 1) % ringSize];
        previous.filled = false;
        second->changed.notify_all();
    }
    Piece &piece = ring[nextToHand];
    second->changed.wait(guard, [&] { return piece.filled; });
    nextToHand = (nextToHand + 1) % ringSize;
    handedOne = true;
    *data = piece.bytes;
    return piece.length;
}

void filereader::readLoop(Overlap *shared)
{
#if defined(POSIX_FADV_WILLNEED)
    // The kernel's own read-ahead keeps only a few hundred KiB in flight,
    // far from what a fast disk needs to stream: ask for the next stretch
    // ahead of the reads, a step at a time.
    constexpr long long step = 4LL * 1024 * 1024;
    constexpr long long ahead = 32LL * 1024 * 1024;
    long long asked = position;
#endif
    for (int slot = 0;; slot = (slot + 1) % ringSize) {
#if defined(POSIX_FADV_WILLNEED)
        if (position + ahead - step >= asked) {
            (void)::posix_fadvise(fd, asked, position + ahead - asked, POSIX_FADV_WILLNEED);
            asked = position + ahead;
        }
#endif
        Piece &piece = ring[slot];
        {
            std::unique_lock<std::mutex> guard(shared->lock);
            shared->changed.wait(guard, [&] { return shared->stopping || !piece.filled; });
            if (shared->stopping)
                return;
        }
        // The piece is free: the consumer does not touch it until it is
        // marked filled under the lock.
        const long n = readChunk(piece.bytes);
        {
            std::lock_guard<std::mutex> guard(shared->lock);
            piece.length = n;
            piece.filled = true;
        }
        shared->changed.notify_all();
        if (n <= 0)
            return;
    }
}
