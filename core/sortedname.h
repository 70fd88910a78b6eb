#pragma once

#include <QString>

#include <cstdint>
#include <string>
#include <vector>

// A directory entry as the listing sorts it, in the order the checksums
// file keeps the names of one directory.
struct SortedName
{
    std::string name;
    // The lower-cased decoded name, kept only for names that are not plain
    // ASCII: for those the bytes themselves already give the order.
    QString key;
    // For plain ASCII names, the first 16 bytes lowered, most significant
    // first and padded with zeros (no name holds one), so that most
    // comparisons take two integers.
    std::uint64_t head[2] = {0, 0};
    bool ascii = true;
};

// The entry for name, with what the order needs worked out once.
SortedName sortedName(const char *name);

// Sorts a directory's names as QDir::Name | QDir::IgnoreCase does, the bytes
// deciding between names that compare alike there.
void sortNames(std::vector<SortedName> &names);
