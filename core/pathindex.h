#pragma once

#include "hashrecord.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Finds records by path in constant time. When several records share a path
// the first one in the list is the one found. The list must outlive the index
// and stay unchanged while it is in use.
class PathIndex
{
public:
    explicit PathIndex(const std::vector<HashRecord> &records);

    const HashRecord *find(const std::string &path) const;

private:
    static std::uint64_t hashOf(const std::string &path);

    const std::vector<HashRecord> &records;
    // Open addressing, linear probing. A slot holds the upper half of the
    // path's hash beside the record's index plus one; zero marks a free slot.
    std::vector<std::uint64_t> table;
    std::size_t mask = 0;
};
