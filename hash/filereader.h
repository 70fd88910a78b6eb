#pragma once

#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <thread>

// Hands out the content of an open file, from its start, in pieces of
// hashwrapper's chunk size. With overlap, a second thread reads the next
// pieces while the caller hashes this one, so that copying out of the page
// cache and waiting for the disk do not hold the hashing up; that thread
// ends inside the destructor. POSIX descriptors only.
class filereader
{
public:
    // size: the file's size when it was opened, or -1. A read that stops
    // short exactly there ends the file without one more read to find 0.
    // probeCache: the first read does not wait for the disk, so that
    // cacheMissed() can tell whether the file's start was in memory.
    filereader(int fd, bool overlap, long long size = -1, bool probeCache = false);
    ~filereader();

    filereader(const filereader &) = delete;
    filereader &operator=(const filereader &) = delete;

    // The next piece: its length, 0 at the end of the file, -1 when a read
    // failed. The piece stays valid until the next call.
    long next(const unsigned char **data);

    // After the first piece: whether its reading had to wait for the disk,
    // or could not be asked without waiting.
    bool cacheMissed() const { return missed; }

private:
    struct Piece
    {
        std::unique_ptr<unsigned char[]> bytes;
        long length = 0;
        bool filled = false;
    };
    static constexpr int ringSize = 4;

    // Fills buffer with up to one chunk; 0 at the end, -1 on failure. Only
    // one thread reads: the caller's, or the second thread with overlap.
    long readChunk(unsigned char *buffer);
    void readLoop();

    const int fd;
    const long long size;
    long long position = 0;
    bool atEnd = false;
    bool probe;
    bool missed = false;

    Piece ring[ringSize];
    int nextToHand = 0;
    bool handedOne = false;
    bool stopping = false;
    std::mutex lock;
    std::condition_variable changed;
    std::thread reader;
};
