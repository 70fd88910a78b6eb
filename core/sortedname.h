#pragma once

#include <QString>

#include <cstdint>
#include <string>
#include <vector>

// A directory entry as the listing sorts it, in the order the checksums
// file keeps the names of one directory. The name itself lives in the block
// of the list that holds the entry.
struct SortedName
{
    // For plain ASCII names, the first 16 bytes lowered, most significant
    // first and padded with zeros (no name holds one), so that most
    // comparisons take two integers.
    std::uint64_t head[2] = {0, 0};
    std::size_t offset = 0;
    std::uint32_t length = 0;
    // For a name that is not plain ASCII, its lower-cased decoded form in
    // the list's keys; -1 for the others, whose bytes already give the order.
    std::int32_t key = -1;
};

// One directory's names, kept in a single block rather than one allocation
// each: a listing of a million files adds a million of them.
class SortedNames
{
public:
    void add(const char *name);
    // Sorts the names as QDir::Name | QDir::IgnoreCase does, the bytes
    // deciding between names that compare alike there.
    void sort();
    std::size_t size() const { return entries.size(); }
    const char *data(std::size_t i) const { return block.data() + entries[i].offset; }
    std::size_t length(std::size_t i) const { return entries[i].length; }
    std::string name(std::size_t i) const { return std::string(data(i), length(i)); }

private:
    bool less(const SortedName &a, const SortedName &b) const;

    std::string block;
    std::vector<SortedName> entries;
    std::vector<QString> keys;
};
