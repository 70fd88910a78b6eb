#include "pathindex.h"

#include "largepages.h"

#include <cstring>
#include <stdexcept>

namespace {

inline std::uint64_t load64(const char *p)
{
    std::uint64_t w;
    std::memcpy(&w, p, sizeof w);
    return w;
}

inline std::uint64_t mix(std::uint64_t x)
{
    x ^= x >> 33;
    x *= 0xff51afd7ed558ccdULL;
    x ^= x >> 33;
    x *= 0xc4ceb9fe1a85ec53ULL;
    x ^= x >> 33;
    return x;
}

} // namespace

void PathIndex::assign(const std::vector<HashRecord> &list)
{
    // The slot keeps the index in 32 bits.
    if (list.size() >= 0xffffffffULL)
        throw std::length_error("too many records to index");
    records = &list;

    std::size_t capacity = 16;
    while (capacity < list.size() * 2)
        capacity *= 2;
    if (table.size() != capacity) {
        table = std::vector<std::uint64_t>();
        table.reserve(capacity);
        adviseLargePages(table.data(), capacity * sizeof(std::uint64_t));
    }
    table.assign(capacity, 0);
    mask = capacity - 1;

    const std::size_t count = list.size();
    std::uint64_t hashes[ahead];
    for (std::size_t i = 0; i < count + ahead; ++i) {
        if (i >= ahead)
            insert(list, i - ahead, hashes[(i - ahead) % ahead]);
        if (i < count) {
            const std::uint64_t hash = hashOf(list[i].path);
            hashes[i % ahead] = hash;
            prefetch(&table[hash & mask]);
        }
    }
}

void PathIndex::insert(const std::vector<HashRecord> &list, std::size_t at, std::uint64_t hash)
{
    const std::uint64_t tag = hash & tagMask;
    const std::string &path = list[at].path;
    for (std::size_t pos = hash & mask;; pos = (pos + 1) & mask) {
        const std::uint64_t slot = table[pos];
        if (slot == 0) {
            table[pos] = tag | (at + 1);
            return;
        }
        // An earlier record with the same path keeps its place.
        if ((slot & tagMask) == tag && list[(slot & 0xffffffffULL) - 1].path == path)
            return;
    }
}

const HashRecord *PathIndex::probe(const std::string &path, std::uint64_t hash) const
{
    const std::uint64_t tag = hash & tagMask;
    for (std::size_t pos = hash & mask;; pos = (pos + 1) & mask) {
        const std::uint64_t slot = table[pos];
        if (slot == 0)
            return nullptr;
        if ((slot & tagMask) == tag) {
            const HashRecord &record = (*records)[(slot & 0xffffffffULL) - 1];
            if (record.path == path)
                return &record;
        }
    }
}

std::uint64_t PathIndex::hashOf(const std::string &path)
{
    return hashOf(path.data(), path.size());
}

std::uint64_t PathIndex::hashOf(const char *p, std::size_t n)
{
    std::uint64_t h = 0x9e3779b97f4a7c15ULL ^ (n * 0xff51afd7ed558ccdULL);
    while (n >= 8) {
        h = (h ^ mix(load64(p))) * 0x9e3779b97f4a7c15ULL;
        h = (h << 29) | (h >> 35);
        p += 8;
        n -= 8;
    }
    if (n > 0) {
        std::uint64_t tail = 0;
        std::memcpy(&tail, p, n);
        h = (h ^ mix(tail ^ 0x5bd1e995ULL)) * 0x9e3779b97f4a7c15ULL;
    }
    return mix(h);
}
