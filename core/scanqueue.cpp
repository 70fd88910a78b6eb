#include "scanqueue.h"

#include <algorithm>
#include <utility>

#if defined(ORVALEN_POSIX)
#include <unistd.h>
#endif

ScanQueue::ScanQueue(std::string nativePrefix, std::size_t window, std::size_t openAhead)
    : nativePrefix(std::move(nativePrefix)), openAhead(openAhead), ring(std::max<std::size_t>(window, 1)),
      openedAhead(std::max<std::size_t>(openAhead, 1))
{
}

ScanQueue::Slot &ScanQueue::slot(std::size_t index)
{
    return ring[index % ring.size()];
}

ScanQueue::OpenedAhead &ScanQueue::ahead(std::size_t index)
{
    return openedAhead[index % openedAhead.size()];
}

void ScanQueue::add(const char *below, std::size_t length, bool read)
{
    addedPaths.append(below, length);
    addedEnds.push_back(addedPaths.size());
    addedUnread.push_back(!read);
}

void ScanQueue::forgetAdded()
{
    addedPaths.clear();
    addedEnds.clear();
    addedUnread.clear();
}

void ScanQueue::publishAdded()
{
    // Room first, grown as the containers grow themselves: once it is
    // there nothing below can fail half way.
    const auto makeRoom = [](auto &held, std::size_t more) {
        if (held.capacity() - held.size() < more)
            held.reserve(std::max(held.size() + more, 2 * held.capacity()));
    };
    makeRoom(paths, addedPaths.size());
    makeRoom(pathEnds, addedEnds.size());
    makeRoom(unreadFiles, addedUnread.size());
    const std::size_t base = baseBytes + paths.size();
    paths += addedPaths;
    for (const std::size_t end : addedEnds)
        pathEnds.push_back(base + end);
    unreadFiles.insert(unreadFiles.end(), addedUnread.begin(), addedUnread.end());
}

std::string ScanQueue::pathOf(std::size_t index) const
{
    std::string path;
    path.reserve(nativePrefix.size() + 64);
    pathInto(index, path);
    return path;
}

void ScanQueue::pathInto(std::size_t index, std::string &path) const
{
    const std::size_t at = index - pathBase;
    const std::size_t begin = at == 0 ? baseBytes : pathEnds[at - 1];
    path.assign(nativePrefix);
    path.append(paths, begin - baseBytes, pathEnds[at] - begin);
}

void ScanQueue::nextBelow(std::string &below) const
{
    const std::size_t at = nextToTake - pathBase;
    const std::size_t begin = at == 0 ? baseBytes : pathEnds[at - 1];
    below.assign(paths, begin - baseBytes, pathEnds[at] - begin);
}

void ScanQueue::takeNext(Result &result)
{
    Slot &next = slot(nextToTake);
    // Moved, the strings trade their room (libstdc++ swaps the two
    // buffers): the slot keeps what the taken entry held, for the next
    // file, and nothing is freed.
    result = std::move(next.result);
    next.result.clear();
    next.state = Slot::Waiting;
    ++nextToTake;
}

void ScanQueue::forgetTaken()
{
    // Dropping from the front moves what is held, so it waits until at
    // least half of it is taken.
    const std::size_t taken = nextToTake - pathBase;
    if (taken < 4096 || taken * 2 < pathEnds.size())
        return;
    const std::size_t bytes = pathEnds[taken - 1] - baseBytes;
    paths.erase(0, bytes);
    pathEnds.erase(pathEnds.begin(), pathEnds.begin() + static_cast<std::ptrdiff_t>(taken));
    unreadFiles.erase(unreadFiles.begin(), unreadFiles.begin() + static_cast<std::ptrdiff_t>(taken));
    baseBytes += bytes;
    pathBase = nextToTake;
}

std::size_t ScanQueue::room() const
{
    const std::size_t limit = std::min({published(), nextToTake + ring.size(), nextToHash + openAhead});
    return limit > nextToOpen ? limit - nextToOpen : 0;
}

void ScanQueue::closeOpened()
{
    for (OpenedAhead &waiting : openedAhead) {
#if defined(ORVALEN_POSIX)
        if (waiting.fd >= 0)
            ::close(waiting.fd);
#endif
        waiting.fd = -1;
    }
}
