#pragma once

#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <thread>

// Hands out the content of an open file in pieces of hashwrapper's chunk
// size. With overlap, a second thread reads the next pieces while the caller
// hashes this one, so that copying out of the page cache and waiting for the
// disk do not hold the hashing up; that thread ends inside the destructor.
// POSIX descriptors only.
class filereader
{
public:
    filereader(int fd, bool overlap);
    ~filereader();

    filereader(const filereader &) = delete;
    filereader &operator=(const filereader &) = delete;

    // The next piece: its length, 0 at the end of the file, -1 when a read
    // failed. The piece stays valid until the next call.
    long next(const unsigned char **data);

private:
    struct Piece
    {
        std::unique_ptr<unsigned char[]> bytes;
        long length = 0;
        bool filled = false;
    };
    static constexpr int ringSize = 4;

    // Fills buffer with up to one chunk; 0 at the end, -1 on failure.
    static long readChunk(int fd, unsigned char *buffer);
    void readLoop();

    int fd;
    Piece ring[ringSize];
    int nextToHand = 0;
    bool handedOne = false;
    bool stopping = false;
    std::mutex lock;
    std::condition_variable changed;
    std::thread reader;
};
