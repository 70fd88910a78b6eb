#include "uringreader.h"

#include "hashwrapper.h"
#include "hlexception.h"
#include "steadyhash.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <system_error>

#include <fcntl.h>
#include <liburing.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::atomic<int> refusedForTesting{0};
std::atomic<unsigned long long> batches{0};

// What a completion answers, in its user data beside the file's place in
// the batch.
enum : unsigned long long { opened = 0, readIn = 1ULL << 32, closed = 2ULL << 32, kindMask = 3ULL << 32 };

// The flags the plain path opens with: a FIFO must not block the open.
constexpr int openFlags = O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;

} // namespace

struct UringReader::Ring
{
    io_uring ring;
    bool live = false;
    // Requests prepared and not yet completed, closes aside: they answer
    // only when they fail.
    unsigned outstanding = 0;

    ~Ring()
    {
        if (!live)
            return;
        drain();
        io_uring_queue_exit(&ring);
    }

    io_uring_sqe *request(unsigned long long data)
    {
        ++outstanding;
        return make(data);
    }

    void close(int fd, unsigned long long data)
    {
        io_uring_sqe *sqe = make(data);
        io_uring_prep_close(sqe, fd);
        sqe->flags |= IOSQE_CQE_SKIP_SUCCESS;
    }

    io_uring_sqe *make(unsigned long long data)
    {
        io_uring_sqe *sqe = io_uring_get_sqe(&ring);
        if (!sqe) {
            submit();
            sqe = io_uring_get_sqe(&ring);
        }
        if (!sqe)
            throw std::system_error(EBUSY, std::generic_category(), "io_uring submission queue");
        io_uring_sqe_set_data64(sqe, data);
        return sqe;
    }

    // Submits what is prepared and waits for wait completions at most, in
    // one call.
    void submit(unsigned wait = 0)
    {
        int ret;
        do {
            ret = io_uring_submit_and_wait(&ring, wait);
        } while (ret == -EINTR);
        if (ret < 0)
            throw std::system_error(-ret, std::generic_category(), "io_uring_submit");
    }

    // The next completion, waiting for it; closes are only counted.
    bool next(unsigned long long &data, int &result)
    {
        for (;;) {
            if (outstanding == 0)
                return false;
            io_uring_cqe *cqe = nullptr;
            int ret;
            do {
                ret = io_uring_wait_cqe(&ring, &cqe);
            } while (ret == -EINTR || ret == -EAGAIN);
            if (ret < 0)
                throw std::system_error(-ret, std::generic_category(), "io_uring_wait_cqe");
            data = io_uring_cqe_get_data64(cqe);
            result = cqe->res;
            io_uring_cqe_seen(&ring, cqe);
            if ((data & kindMask) != closed) {
                --outstanding;
                return true;
            }
        }
    }

    // Waits for want completions of kind, into results by place.
    void collect(unsigned want, unsigned long long kind, int *results)
    {
        submit(want);
        unsigned long long data;
        int result;
        while (want > 0 && next(data, result))
            if ((data & kindMask) == kind) {
                results[data & ~kindMask] = result;
                --want;
            }
    }

    // Waits for what is outstanding; the descriptors of opens that answer
    // now go into opens by place, where the caller closes them.
    void drain(int *opens = nullptr) noexcept
    {
        try {
            submit();
            unsigned long long data;
            int result;
            while (next(data, result))
                if (opens && (data & kindMask) == opened)
                    opens[data & ~kindMask] = result;
        } catch (const std::system_error &) {
            // The kernel completes what it holds when the ring goes.
        }
    }
};

UringReader::UringReader(int dirFd) : dirFd(dirFd)
{
    refused = refusedForTesting.load();
    if (refused != 0)
        return;
    auto fresh = std::make_unique<Ring>();
    // One thread submits and waits, so the kernel may keep the completions'
    // work until it waits; older kernels know neither flag.
    int ret = io_uring_queue_init(4 * batchFiles, &fresh->ring,
                                  IORING_SETUP_SINGLE_ISSUER | IORING_SETUP_DEFER_TASKRUN);
    if (ret == -EINVAL)
        ret = io_uring_queue_init(4 * batchFiles, &fresh->ring, 0);
    if (ret < 0) {
        refused = -ret;
        return;
    }
    fresh->live = true;
    // Saves the kernel looking the ring up at every call; older kernels
    // lack it.
    (void)io_uring_register_ring_fd(&fresh->ring);
    io_uring_probe *probe = io_uring_get_probe_ring(&fresh->ring);
    const bool serves = probe && io_uring_opcode_supported(probe, IORING_OP_OPENAT)
                        && io_uring_opcode_supported(probe, IORING_OP_READ)
                        && io_uring_opcode_supported(probe, IORING_OP_CLOSE);
    if (probe)
        io_uring_free_probe(probe);
    if (!serves) {
        refused = ENOSYS;
        return;
    }
    ring = std::move(fresh);
    buffer.reset(new unsigned char[batchBytes]);
}

UringReader::~UringReader() = default;

unsigned long long UringReader::batchesForTesting()
{
    return batches.load();
}

void UringReader::refuseSetupForTesting(int error)
{
    refusedForTesting.store(error);
}

void UringReader::hash(const std::string *paths, std::size_t count, hashwrapper &hasher, File *files)
{
    const char *names[batchFiles];
    for (std::size_t done = 0; done < count; done += batchFiles) {
        const std::size_t batch = std::min(batchFiles, count - done);
        File *const these = files + done;
        if (ring) {
            for (std::size_t i = 0; i < batch; ++i)
                names[i] = paths[done + i].c_str();
            hashOpened(dirFd, names, batch, hasher, these, batchFiles, nullptr);
        }
        for (std::size_t i = 0; i < batch; ++i) {
            File &file = these[i];
            if (!ring || file.untried) {
                hashPlain(paths[done + i], hasher, file);
            } else if (file.fd >= 0) {
                const int fd = file.fd;
                file.fd = -1;
                try {
                    hashFromDescriptor(fd, paths[done + i], hasher, file);
                } catch (...) {
                    ::close(fd);
                    for (std::size_t j = i + 1; j < batch; ++j)
                        if (these[j].fd >= 0)
                            ::close(these[j].fd);
                    throw;
                }
                ::close(fd);
            }
        }
    }
}

void UringReader::hashOpened(int dirFd, const char *const *names, std::size_t count, hashwrapper &hasher,
                             File *files, std::size_t lookAt, bool *missedCache)
{
    int fds[batchFiles];
    int reads[batchFiles];
    unsigned opens = 0;
    for (std::size_t i = 0; i < count; ++i) {
        // As new, with the digest's room kept for the next batch.
        std::string digest = std::move(files[i].digest);
        digest.clear();
        files[i] = File();
        files[i].digest = std::move(digest);
        fds[i] = -1;
        // A path the kernel would refuse as too long is opened in pieces.
        files[i].untried = std::strlen(names[i]) >= PATH_MAX;
        if (!files[i].untried) {
            io_uring_prep_openat(ring->request(opened | i), dirFd, names[i], openFlags, 0);
            ++opens;
        }
    }
    batches.fetch_add(1, std::memory_order_relaxed);

    try {
        ring->collect(opens, opened, fds);
        unsigned wanted = 0;
        std::size_t filled = 0;
        std::size_t at[batchFiles];
        for (std::size_t i = 0; i < count; ++i) {
            File &file = files[i];
            reads[i] = -1;
            if (file.untried)
                continue;
            const int fd = fds[i];
            // Short of descriptors, or an open that would wait: the caller
            // knows how to wait.
            if (fd == -EAGAIN || fd == -EINTR || fd == -EMFILE || fd == -ENFILE) {
                fds[i] = -1;
                file.untried = true;
                file.error = -fd;
                continue;
            }
            if (fd < 0) {
                file.error = -fd;
                continue;
            }
            struct stat status;
            const int failure = hashwrapper::statRegular(fd, &status);
            if (failure != 0) {
                file.error = failure;
                ring->close(fd, closed | i);
                fds[i] = -1;
                continue;
            }
            file.before = FileStamp::of(status);
            const std::size_t size = static_cast<std::size_t>(status.st_size);
            if (i == lookAt && missedCache && size > 0) {
                unsigned char first;
                *missedCache = hashwrapper::readWithoutWaiting(fd, &first, 1, 0) != 1;
            }
            if (size == 0) {
                reads[i] = 0;
            } else if (size < pieceBytes && size <= batchBytes - filled) {
                // Each file's bytes start on a cache line of their own.
                at[i] = filled;
                filled += (size + 63) & ~std::size_t(63);
                io_uring_prep_read(ring->request(readIn | i), fd, buffer.get() + at[i], size, 0);
                ++wanted;
            }
        }
        ring->collect(wanted, readIn, reads);

        // The files read whole are hashed together: small ones go side by
        // side where the hasher can.
        const unsigned char *wholeData[batchFiles];
        std::size_t wholeLengths[batchFiles];
        std::string *wholeDigests[batchFiles];
        std::size_t wholeCount = 0;
        for (std::size_t i = 0; i < count; ++i) {
            File &file = files[i];
            const int fd = fds[i];
            if (fd < 0)
                continue;
            // Only a read that gave the whole file as opened, with the status
            // still that of the open, is hashed from the batch: anything else
            // is left to the caller, who reads it again the plain way.
            bool whole = reads[i] >= 0 && reads[i] == file.before.size;
            if (whole) {
                file.after = FileStamp::ofOpen(fd);
                whole = !file.after.differsFrom(file.before);
            }
            if (whole) {
                wholeData[wholeCount] = buffer.get() + at[i];
                wholeLengths[wholeCount] = static_cast<std::size_t>(reads[i]);
                wholeDigests[wholeCount++] = &file.digest;
                ring->close(fd, closed | i);
            } else {
                file.after = FileStamp();
                file.fd = fd;
            }
            fds[i] = -1;
        }
        // The closes go now: the caller counts on them being closed.
        ring->submit();
        hasher.digestsInto(wholeData, wholeLengths, wholeCount, wholeDigests);
    } catch (...) {
        ring->drain(fds);
        for (std::size_t i = 0; i < count; ++i) {
            if (fds[i] >= 0)
                ::close(fds[i]);
            if (files[i].fd >= 0)
                ::close(files[i].fd);
            files[i].fd = -1;
        }
        throw;
    }
}

void UringReader::hashPlain(const std::string &path, hashwrapper &hasher, File &file) const
{
    file = File();
    struct stat status;
    const int fd = hashwrapper::openRegularFileBelow(dirFd, path, 0, &status);
    if (fd < 0) {
        file.error = errno;
        return;
    }
    file.before = FileStamp::of(status);
    try {
        hashFromDescriptor(fd, path, hasher, file);
    } catch (...) {
        ::close(fd);
        throw;
    }
    ::close(fd);
}

void UringReader::hashFromDescriptor(int fd, const std::string &path, hashwrapper &hasher, File &file) const
{
    try {
        file.changing = SteadyHash::ofOpenFile(hasher, file.digest, fd, file.before.size, path,
                                               file.before.size >= hashwrapper::overlapFileSize,
                                               hashwrapper::KeepGoing(), nullptr, file.before, file.after);
    } catch (const hlException &error) {
        file.digest.clear();
        file.error = error.errorNumber != 0 ? error.errorNumber : EIO;
    }
}
