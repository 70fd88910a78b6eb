#pragma once

#include <unistd.h>

// An open file descriptor, closed with its owner.
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
