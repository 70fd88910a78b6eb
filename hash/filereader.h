#pragma once

#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <thread>

// Hands out the content of an open file, from its start, in pieces.
// A large file, or one read with overlap, is first read on the caller's
// thread in pieces small enough to stay in the second-level cache while they
// are hashed, for as long as each piece is in memory already: a second
// thread would only make every byte cross the memory bus twice. From the first
// piece that must come from the device on, the pieces are of the chunk size
// of filepieces.h, and with overlap a second thread reads the next ones
// while the caller hashes this one, so that waiting for the disk does not
// hold the hashing up; that thread ends inside the destructor. POSIX
// descriptors only.
class filereader
{
public:
    // size: the file's size when it was opened, or -1. A read that stops
    // short exactly there ends the file without one more read to find 0.
    // probeCache: the first read does not wait for the disk, so that
    // cacheMissed() can tell whether the file's start was in memory.
    // buffer: filepieces::chunkSize bytes of the caller's for the first
    // piece, so that a reader for each of a million small files does not
    // cost a million large allocations.
    filereader(int fd, bool overlap, long long size = -1, bool probeCache = false,
               unsigned char *buffer = nullptr);
    ~filereader();

    filereader(const filereader &) = delete;
    filereader &operator=(const filereader &) = delete;

    // The next piece: its length, 0 at the end of the file, -1 when a read
    // failed. The piece stays valid until the next call.
    long next(const unsigned char **data);

    // After the first piece: whether its reading had to wait for the disk,
    // or could not be asked without waiting.
    bool cacheMissed() const { return missed; }
    // After next() answered -1: the errno of the read that failed.
    int error() const { return failure; }

    // The size of the pieces read from memory, chosen by measuring 16 KiB to
    // 256 KiB: smaller pieces pay for more system calls than they gain in
    // cache, and a quarter of a 512 KiB second-level cache leaves room for
    // the page cache's side of the copy.
    static constexpr std::size_t defaultMemoryPieceSize = 128 * 1024;
    // For the benchmark, which measures the choice: a size between 4 KiB
    // and the chunk size, for readers made from then on.
    static void setMemoryPieceSize(std::size_t bytes);
    // For the tests, which must see both ways of reading whatever the page
    // cache holds: from offset on, every byte counts as not in memory, and a
    // read from memory stops there. -1, the default, leaves it to the kernel.
    static void pretendMissFrom(long long offset);
    // For the tests, which must change a file while it is being read,
    // without timing: called with the file's descriptor on the thread that
    // takes the pieces, after each piece it is handed that holds bytes.
    // nullptr, the default, calls nothing.
    using PieceHook = void (*)(int fd);
    static void setPieceHook(PieceHook hook);

private:
    long nextPiece(const unsigned char **data);

    struct Piece
    {
        std::unique_ptr<unsigned char[]> owned;
        unsigned char *bytes = nullptr;
        long length = 0;
        bool filled = false;
    };
    static constexpr int ringSize = 4;

    // Fills buffer with up to one chunk; 0 at the end, -1 on failure. Only
    // one thread reads: the caller's, or the second thread with overlap.
    long readChunk(unsigned char *buffer);
    // One piece from the page cache without waiting; -1 where the piece is
    // not there, which a device read must then find out about.
    long readFromMemory(unsigned char *buffer);
    // Starts the reader thread, or leaves the reading to next() where no
    // thread can be had.
    void startReader();
    struct Overlap;
    void readLoop(Overlap *shared);

    const int fd;
    const long long size;
    const bool overlap;
    const std::size_t memoryPiece;
    long long position = 0;
    bool atEnd = false;
    bool probe;
    bool missed = false;
    // Written by whichever thread read, before the piece is handed over.
    int failure = 0;
    bool fromMemory;
    bool memoryFileSystem = false;

    Piece ring[ringSize];
    int nextToHand = 0;
    bool handedOne = false;
    // What only the second thread needs, made when it starts: a reader for
    // each of a million small files would otherwise make and destroy a
    // condition variable each, which costs a locked instruction apiece.
    struct Overlap
    {
        bool stopping = false;
        std::mutex lock;
        std::condition_variable changed;
        std::thread reader;
    };
    std::unique_ptr<Overlap> second;
};
