#include "storedindex.h"

#include "checksumfile.h"
#include "hexbytes.h"

#include <cstring>

#if defined(ORVALEN_POSIX)
#include <sys/stat.h>
#endif

namespace {

constexpr std::uint64_t tagMask = 0xffffffff00000000ULL;
constexpr std::size_t digestBytes = 32;

// The value of each lower-case hexadecimal digit, and 0x10 for every other
// byte: a table rather than comparisons, which random digits would make
// the processor mispredict a good third of the time.
struct LowerHexValues
{
    std::uint8_t value[256];
    constexpr LowerHexValues() : value()
    {
        for (int c = 0; c < 256; ++c)
            value[c] = c >= '0' && c <= '9' ? static_cast<std::uint8_t>(c - '0')
                       : c >= 'a' && c <= 'f' ? static_cast<std::uint8_t>(c - 'a' + 10)
                                              : 0x10;
    }
};
constexpr LowerHexValues lowerHex;

// The 32 bytes of a digest written as the program writes it, 64 lower-case
// hexadecimal digits; false for anything else, which is compared as text.
bool decode(const char *text, std::size_t length, std::uint8_t *bytes)
{
    if (length != 2 * digestBytes)
        return false;
    unsigned invalid = 0;
    for (std::size_t i = 0; i < digestBytes; ++i) {
        const unsigned high = lowerHex.value[static_cast<unsigned char>(text[2 * i])];
        const unsigned low = lowerHex.value[static_cast<unsigned char>(text[2 * i + 1])];
        invalid |= high | low;
        bytes[i] = static_cast<std::uint8_t>(high << 4 | (low & 0x0f));
    }
    return (invalid & 0x10) == 0;
}

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

bool StoredIndex::load(const std::string &fileName)
{
    if (!loadRecords(fileName))
        return false;
    buildTable();
    return true;
}

bool StoredIndex::loadRecords(const std::string &fileName)
{
    *this = StoredIndex();
#if defined(ORVALEN_POSIX)
    // A line holds at least a digest and its line end: room for that many
    // records is set aside, and only what is filled takes memory.
    struct stat info;
    if (::stat(fileName.c_str(), &info) == 0 && info.st_size > 0) {
        const std::size_t lines = static_cast<std::size_t>(info.st_size) / (2 * digestBytes + 2) + 1;
        paths.reserve(lines, static_cast<std::size_t>(info.st_size));
        raw.reserve(lines * digestBytes);
    }
#endif
    const bool read = ChecksumFile::read(fileName, [this](const char *path, std::size_t pathLength,
                                                          const char *digest, std::size_t digestLength) {
        add(path, pathLength, digest, digestLength);
    });
    // The table keeps a record's index in 32 bits.
    if (!read || paths.size() >= 0xffffffffULL) {
        *this = StoredIndex();
        return false;
    }
    seen.assign(paths.size(), false);
    return true;
}

void StoredIndex::assign(const std::vector<HashRecord> &records)
{
    *this = StoredIndex();
    for (const HashRecord &record : records)
        add(record.path.data(), record.path.size(), record.hash.data(), record.hash.size());
    seen.assign(paths.size(), false);
    buildTable();
}

std::size_t StoredIndex::unseenPaths() const
{
    std::size_t unseen = 0;
    for (std::size_t record = 0; record < recordCount(); ++record)
        unseen += counting(record) == record && !seen[record] ? 1 : 0;
    return unseen;
}

void StoredIndex::add(const char *path, std::size_t pathLength, const char *digest, std::size_t digestLength)
{
    const std::size_t record = paths.size();
    paths.append(path, pathLength);
    raw.resize(raw.size() + digestBytes);
    if (!decode(digest, digestLength, raw.data() + record * digestBytes))
        otherDigests.emplace(record, std::string(digest, digestLength));
}

void StoredIndex::buildTable()
{
    const std::size_t count = paths.size();
    std::size_t capacity = 16;
    while (capacity < count * 2)
        capacity *= 2;
    table.assign(capacity, 0);
    mask = capacity - 1;
    const auto insert = [this, count](std::size_t record, std::uint64_t hash) {
        const std::string_view path = paths.view(record);
        const std::uint64_t tag = hash & tagMask;
        std::size_t first = none;
        for (std::size_t pos = hash & mask;; pos = (pos + 1) & mask) {
            const std::uint64_t slot = table[pos];
            if (slot == 0) {
                table[pos] = tag | (record + 1);
                break;
            }
            const std::size_t other = (slot & 0xffffffffULL) - 1;
            if ((slot & tagMask) == tag && paths.view(other) == path) {
                first = other;
                break;
            }
        }
        // A repeated path: from here on each record says which counts.
        if (first != none && firstOf.empty()) {
            firstOf.resize(count);
            for (std::size_t earlier = 0; earlier < record; ++earlier)
                firstOf[earlier] = earlier;
        }
        if (!firstOf.empty())
            firstOf[record] = first == none ? record : first;
    };
    // Millions of records do not fit in the cache: each insert waits for
    // its slot, so the slots are loaded this many records ahead.
    constexpr std::size_t ahead = 16;
    std::uint64_t hashes[ahead];
    for (std::size_t i = 0; i < count + ahead; ++i) {
        if (i >= ahead)
            insert(i - ahead, hashes[(i - ahead) % ahead]);
        if (i < count) {
            const std::string_view path = paths.view(i);
            hashes[i % ahead] = hashOf(path.data(), path.size());
            prefetch(hashes[i % ahead]);
        }
    }
}

std::size_t StoredIndex::find(const char *path, std::size_t length) const
{
    return find(path, length, hashOf(path, length));
}

void StoredIndex::prefetch(std::uint64_t hash) const
{
#if defined(__GNUC__) || defined(__clang__)
    if (!table.empty())
        __builtin_prefetch(&table[hash & mask]);
#else
    (void)hash;
#endif
}

std::size_t StoredIndex::find(const char *path, std::size_t length, std::uint64_t hash) const
{
    if (paths.empty())
        return none;
    const std::uint64_t tag = hash & tagMask;
    for (std::size_t pos = hash & mask;; pos = (pos + 1) & mask) {
        const std::uint64_t slot = table[pos];
        if (slot == 0)
            return none;
        if ((slot & tagMask) != tag)
            continue;
        const std::size_t record = (slot & 0xffffffffULL) - 1;
        const std::string_view held = paths.view(record);
        if (held.size() == length && std::memcmp(held.data(), path, length) == 0)
            return record;
    }
}

std::size_t StoredIndex::find(const char *path, std::size_t length, std::uint64_t hash,
                              std::size_t &next) const
{
    if (isAt(next, path, length))
        return counting(next++);
    const std::size_t record = find(path, length, hash);
    if (record != none)
        next = record + 1;
    return record;
}

std::uint64_t StoredIndex::hashOf(const char *p, std::size_t n)
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

std::string StoredIndex::path(std::size_t record) const
{
    return std::string(paths.view(record));
}

std::string StoredIndex::digest(std::size_t record) const
{
    if (!otherDigests.empty()) {
        const auto other = otherDigests.find(record);
        if (other != otherDigests.end())
            return other->second;
    }
    return hexOfBytes(raw.data() + record * digestBytes, digestBytes);
}

bool StoredIndex::digestIs(std::size_t record, const std::string &digest) const
{
    if (!otherDigests.empty()) {
        const auto other = otherDigests.find(record);
        if (other != otherDigests.end())
            return other->second == digest;
    }
    // The stored digest was these bytes' lower-case digits, as the scan
    // writes them: compared as text, a digest in any other form differs.
    if (digest.size() != 2 * digestBytes)
        return false;
    char text[2 * digestBytes];
    hexInto(raw.data() + record * digestBytes, digestBytes, text);
    return std::memcmp(text, digest.data(), sizeof text) == 0;
}
