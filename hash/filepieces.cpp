#include "filepieces.h"

#if defined(ORVALEN_POSIX)
#include <sys/uio.h>
#endif

long filepieces::readWithoutWaiting(int fd, unsigned char *buffer, std::size_t length, long long offset)
{
#if defined(RWF_NOWAIT)
    iovec piece{buffer, length};
    return static_cast<long>(::preadv2(fd, &piece, 1, offset, RWF_NOWAIT));
#else
    (void)fd;
    (void)buffer;
    (void)length;
    (void)offset;
    return -1;
#endif
}
