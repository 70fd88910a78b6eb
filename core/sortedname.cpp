#include "sortedname.h"

#include <algorithm>
#include <cstring>

namespace {

inline unsigned foldedAscii(unsigned char c)
{
    return c - 'A' <= 'Z' - 'A' ? c + ('a' - 'A') : c;
}

inline unsigned unitAt(const char *bytes, const QString *key, std::size_t i)
{
    if (key)
        return key->at(static_cast<int>(i)).unicode();
    return foldedAscii(static_cast<unsigned char>(bytes[i]));
}

} // namespace

void SortedNames::add(const char *name)
{
    SortedName entry;
    const std::size_t length = std::strlen(name);
    entry.offset = block.size();
    entry.length = static_cast<std::uint32_t>(length);
    block.append(name, length);
    unsigned char high = 0;
    for (std::size_t i = 0; i < length; ++i)
        high |= static_cast<unsigned char>(name[i]);
    if (high & 0x80) {
        entry.key = static_cast<std::int32_t>(keys.size());
        keys.push_back(QString::fromUtf8(name, static_cast<int>(length)).toLower());
    } else {
        const std::size_t n = std::min<std::size_t>(length, 16);
        for (std::size_t i = 0; i < n; ++i)
            entry.head[i / 8] |= std::uint64_t{foldedAscii(static_cast<unsigned char>(name[i]))}
                                 << (56 - 8 * (i % 8));
    }
    entries.push_back(entry);
}

// The order of a QDir sorted by QDir::Name | QDir::IgnoreCase: names lowered
// by QString::toLower and compared by UTF-16 code units, a prefix first.
// Names that decode alike (invalid UTF-8 beside U+FFFD, or names differing
// only in case) still differ in their bytes, which then decide, so the order
// does not depend on how the directory happened to list them.
bool SortedNames::less(const SortedName &a, const SortedName &b) const
{
    const char *bytesA = block.data() + a.offset;
    const char *bytesB = block.data() + b.offset;
    // Most names are plain ASCII: a listing of a million files makes some
    // twenty million of these comparisons, so those go straight over bytes.
    if (a.key < 0 && b.key < 0) {
        if (a.head[0] != b.head[0])
            return a.head[0] < b.head[0];
        if (a.head[1] != b.head[1])
            return a.head[1] < b.head[1];
        const std::size_t n = std::min<std::size_t>(a.length, b.length);
        for (std::size_t i = 16; i < n; ++i) {
            const unsigned ca = foldedAscii(static_cast<unsigned char>(bytesA[i]));
            const unsigned cb = foldedAscii(static_cast<unsigned char>(bytesB[i]));
            if (ca != cb)
                return ca < cb;
        }
    } else {
        const QString *keyA = a.key < 0 ? nullptr : &keys[static_cast<std::size_t>(a.key)];
        const QString *keyB = b.key < 0 ? nullptr : &keys[static_cast<std::size_t>(b.key)];
        const std::size_t na = keyA ? static_cast<std::size_t>(keyA->size()) : a.length;
        const std::size_t nb = keyB ? static_cast<std::size_t>(keyB->size()) : b.length;
        const std::size_t n = std::min(na, nb);
        for (std::size_t i = 0; i < n; ++i) {
            const unsigned ua = unitAt(bytesA, keyA, i);
            const unsigned ub = unitAt(bytesB, keyB, i);
            if (ua != ub)
                return ua < ub;
        }
        if (na != nb)
            return na < nb;
        const int bytes = std::memcmp(bytesA, bytesB, std::min<std::size_t>(a.length, b.length));
        return bytes != 0 ? bytes < 0 : a.length < b.length;
    }
    if (a.length != b.length)
        return a.length < b.length;
    return std::memcmp(bytesA, bytesB, a.length) < 0;
}

// The entries are small and hold no strings, so they are sorted in place.
// Two ASCII names whose heads differ are settled here, without a call.
void SortedNames::sort()
{
    std::sort(entries.begin(), entries.end(), [this](const SortedName &a, const SortedName &b) {
        if ((a.key & b.key) < 0) {
            if (a.head[0] != b.head[0])
                return a.head[0] < b.head[0];
            if (a.head[1] != b.head[1])
                return a.head[1] < b.head[1];
        }
        return less(a, b);
    });
}
