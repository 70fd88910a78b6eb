#include "pathindex.h"

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

PathIndex::PathIndex(const std::vector<HashRecord> &records) : records(records)
{
    // The slot keeps the index in 32 bits.
    if (records.size() >= 0xffffffffULL)
        throw std::length_error("too many records to index");

    std::size_t capacity = 16;
    while (capacity < records.size() * 2)
        capacity *= 2;
    table.assign(capacity, 0);
    mask = capacity - 1;

    for (std::size_t i = 0; i < records.size(); ++i) {
        const std::string &path = records[i].path;
        const std::uint64_t hash = hashOf(path);
        const std::uint64_t tag = hash & 0xffffffff00000000ULL;
        std::size_t pos = hash & mask;
        for (;;) {
            const std::uint64_t slot = table[pos];
            if (slot == 0) {
                table[pos] = tag | (i + 1);
                break;
            }
            // An earlier record with the same path keeps its place.
            if ((slot & 0xffffffff00000000ULL) == tag
                && records[(slot & 0xffffffffULL) - 1].path == path)
                break;
            pos = (pos + 1) & mask;
        }
    }
}

const HashRecord *PathIndex::find(const std::string &path) const
{
    const std::uint64_t hash = hashOf(path);
    const std::uint64_t tag = hash & 0xffffffff00000000ULL;
    std::size_t pos = hash & mask;
    for (;;) {
        const std::uint64_t slot = table[pos];
        if (slot == 0)
            return nullptr;
        if ((slot & 0xffffffff00000000ULL) == tag) {
            const HashRecord &record = records[(slot & 0xffffffffULL) - 1];
            if (record.path == path)
                return &record;
        }
        pos = (pos + 1) & mask;
    }
}

std::uint64_t PathIndex::hashOf(const std::string &path)
{
    const char *p = path.data();
    std::size_t n = path.size();
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
