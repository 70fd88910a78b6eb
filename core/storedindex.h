#pragma once

#include "hashrecord.h"
#include "packedpaths.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// The records of a checksums file held compactly enough for millions of
// files: the paths back to back in one block, the digests as their 32 bytes
// where they are SHA-256 as the program writes them, and one table to find
// a path in. When several records share a path the first is the one found;
// each record still counts in its place for the files that are missing.
class StoredIndex
{
public:
    static constexpr std::size_t none = static_cast<std::size_t>(-1);

    // Reads fileName as ChecksumFile::read does, replacing what was held;
    // false, holding nothing, where that fails.
    bool load(const std::string &fileName);
    // load in two steps: the records, then the table that find looks
    // paths up in. Between the two only isAt, the records' contents and
    // their marks may be used, and the second may run on another thread
    // beside them.
    bool loadRecords(const std::string &fileName);
    void buildTable();
    // Holds records as a checksums file holding them would give them.
    void assign(const std::vector<HashRecord> &records);

    std::size_t recordCount() const { return paths.size(); }
    // The record of path that counts: the first with it; none for none.
    std::size_t find(const char *path, std::size_t length) const;
    // The same for a path whose hashOf is known.
    std::size_t find(const char *path, std::size_t length, std::uint64_t hash) const;
    // The same, tried first at record next, which a scan meeting the files
    // in the order the checksums file holds them names for each: then the
    // look-up reads the paths in their order instead of a table slot and a
    // path at random. next becomes the record after the one whose path
    // matched.
    std::size_t find(const char *path, std::size_t length, std::uint64_t hash, std::size_t &next) const;
    // Whether record holds path.
    bool isAt(std::size_t record, const char *path, std::size_t length) const
    {
        return record < paths.size() && paths.view(record) == std::string_view(path, length);
    }
    // The hash a path is found by.
    static std::uint64_t hashOf(const char *path, std::size_t length);
    // Loads the table's slot for hash into the cache: a run of look-ups,
    // each loaded some way ahead of its find, waits on several misses at
    // once instead of one after another.
    void prefetch(std::uint64_t hash) const;
    // The record that counts for the path of record.
    std::size_t counting(std::size_t record) const { return firstOf.empty() ? record : firstOf[record]; }
    std::string path(std::size_t record) const;
    // The digest as the file holds it.
    std::string digest(std::size_t record) const;
    bool digestIs(std::size_t record, const std::string &digest) const;

    // Whether the scan met the file of a record that counts.
    void markSeen(std::size_t record) { seen[record] = true; }
    bool wasSeen(std::size_t record) const { return seen[record]; }
    // How many paths were not seen.
    std::size_t unseenPaths() const;

private:
    void add(const char *path, std::size_t pathLength, const char *digest, std::size_t digestLength);

    PackedPaths paths;
    std::vector<std::uint8_t> raw;
    // Digests that are not 64 lower-case hexadecimal digits, by record.
    std::unordered_map<std::size_t, std::string> otherDigests;
    // Empty while no path is repeated; else the record that counts for
    // each record.
    std::vector<std::size_t> firstOf;
    std::vector<bool> seen;
    // Open addressing, linear probing: the upper half of the path's hash
    // beside the record's index plus one; zero marks a free slot.
    std::vector<std::uint64_t> table;
    std::size_t mask = 0;
};
