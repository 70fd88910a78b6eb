#include "scanqueue.h"

#include <algorithm>
#include <utility>

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
    added.append(below, length);
    addedUnread.push_back(!read);
}

void ScanQueue::forgetAdded()
{
    added.clear();
    addedUnread.clear();
}

void ScanQueue::publishAdded()
{
    // Room first, grown as the containers grow themselves: once it is
    // there nothing below can fail half way.
    if (unreadFiles.capacity() - unreadFiles.size() < addedUnread.size())
        unreadFiles.reserve(std::max(unreadFiles.size() + addedUnread.size(), 2 * unreadFiles.capacity()));
    paths.append(added);
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
    const std::string_view below = paths.view(index);
    path.assign(nativePrefix);
    path.append(below.data(), below.size());
}

void ScanQueue::nextBelow(std::string &below) const
{
    const std::string_view next = paths.view(nextToTake);
    below.assign(next.data(), next.size());
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
    const std::size_t taken = nextToTake - paths.first();
    if (taken < 4096 || taken * 2 < paths.held())
        return;
    unreadFiles.erase(unreadFiles.begin(), unreadFiles.begin() + static_cast<std::ptrdiff_t>(taken));
    paths.forgetBefore(nextToTake);
}

std::size_t ScanQueue::room() const
{
    const std::size_t limit = std::min({published(), nextToTake + ring.size(), nextToHash + openAhead});
    return limit > nextToOpen ? limit - nextToOpen : 0;
}
