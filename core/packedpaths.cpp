#include "packedpaths.h"

#include <algorithm>
#include <iterator>

void PackedPaths::append(const PackedPaths &batch)
{
    const auto makeRoom = [](auto &held, std::size_t more) {
        if (held.capacity() - held.size() < more)
            held.reserve(std::max(held.size() + more, 2 * held.capacity()));
    };
    makeRoom(block, batch.block.size());
    makeRoom(ends, batch.ends.size());
    // The batch's offsets count from its own first path ever appended.
    const std::size_t shift = baseBytes + block.size() - batch.baseBytes;
    block += batch.block;
    for (const std::size_t end : batch.ends)
        ends.push_back(shift + end);
}

void PackedPaths::reserve(std::size_t paths, std::size_t bytes)
{
    ends.reserve(ends.size() + paths);
    block.reserve(block.size() + bytes);
}

void PackedPaths::forgetBefore(std::size_t index)
{
    const std::size_t count = index - base;
    if (count == 0)
        return;
    const std::size_t dropped = ends[count - 1] - baseBytes;
    block.erase(0, dropped);
    ends.erase(ends.begin(), ends.begin() + static_cast<std::ptrdiff_t>(count));
    baseBytes += dropped;
    base = index;
}

void PackedPaths::clear()
{
    block.clear();
    ends.clear();
    base = 0;
    baseBytes = 0;
}
