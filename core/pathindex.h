#pragma once

#include "hashrecord.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Finds records by path in constant time. When several records share a path
// the first one in the list is the one found. The indexed list must outlive
// the index and stay unchanged while it is in use.
class PathIndex
{
public:
    // Indexes records, replacing whatever was indexed before; the table's
    // memory is kept for the next list.
    void assign(const std::vector<HashRecord> &records);

    // Calls found(query, record) for each query in list order, with the
    // indexed record of the same path or nullptr.
    template <typename Found>
    void lookUp(const std::vector<HashRecord> &queries, Found found) const;

    // The hash a path is found by.
    static std::uint64_t hashOf(const char *path, std::size_t length);

private:
    // Lists of a million records do not fit in the cache: each look-up
    // costs a miss on the table and one on the record. Loading those lines
    // this many queries ahead lets the misses overlap.
    static constexpr std::size_t ahead = 16;
    static constexpr std::uint64_t tagMask = 0xffffffff00000000ULL;

    static std::uint64_t hashOf(const std::string &path);
    static void prefetch(const void *address);
    void insert(const std::vector<HashRecord> &list, std::size_t at, std::uint64_t hash);
    const HashRecord *probe(const std::string &path, std::uint64_t hash) const;

    const std::vector<HashRecord> *records = nullptr;
    // Open addressing, linear probing. A slot holds the upper half of the
    // path's hash beside the record's index plus one; zero marks a free slot.
    std::vector<std::uint64_t> table;
    std::size_t mask = 0;
};

inline void PathIndex::prefetch(const void *address)
{
#if defined(__GNUC__) || defined(__clang__)
    __builtin_prefetch(address);
#else
    (void)address;
#endif
}

template <typename Found>
void PathIndex::lookUp(const std::vector<HashRecord> &queries, Found found) const
{
    const std::size_t count = queries.size();
    std::uint64_t hashes[ahead];
    // Each pass finishes the query loaded furthest back before its slot in
    // hashes is taken by the next one.
    for (std::size_t i = 0; i < count + ahead; ++i) {
        if (i >= ahead) {
            const std::size_t at = i - ahead;
            found(queries[at], probe(queries[at].path, hashes[at % ahead]));
        }
        // Half way: the slot has arrived, so fetch the record it names.
        if (i >= ahead / 2 && i - ahead / 2 < count) {
            const std::uint64_t slot = table[hashes[(i - ahead / 2) % ahead] & mask];
            if (slot != 0)
                prefetch(&(*records)[(slot & 0xffffffffULL) - 1]);
        }
        if (i < count) {
            const std::uint64_t hash = hashOf(queries[i].path);
            hashes[i % ahead] = hash;
            prefetch(&table[hash & mask]);
        }
    }
}
