#include "sortedname.h"

#include <algorithm>

namespace {

bool isAscii(const std::string &text)
{
    for (const char c : text)
        if (static_cast<unsigned char>(c) & 0x80)
            return false;
    return true;
}

inline unsigned foldedAscii(unsigned char c)
{
    return c - 'A' <= 'Z' - 'A' ? c + ('a' - 'A') : c;
}

inline std::size_t unitCount(const SortedName &entry)
{
    return entry.ascii ? entry.name.size() : static_cast<std::size_t>(entry.key.size());
}

inline unsigned unitAt(const SortedName &entry, std::size_t i)
{
    if (!entry.ascii)
        return entry.key.at(static_cast<int>(i)).unicode();
    return foldedAscii(static_cast<unsigned char>(entry.name[i]));
}

// The order of a QDir sorted by QDir::Name | QDir::IgnoreCase: names lowered
// by QString::toLower and compared by UTF-16 code units, a prefix first.
// Names that decode alike (invalid UTF-8 beside U+FFFD, or names differing
// only in case) still differ in their bytes, which then decide, so the order
// does not depend on how the directory happened to list them.
bool nameLess(const SortedName &a, const SortedName &b)
{
    // Most names are plain ASCII: a listing of a million files makes some
    // twenty million of these comparisons, so those go straight over bytes.
    if (a.ascii && b.ascii) {
        if (a.head[0] != b.head[0])
            return a.head[0] < b.head[0];
        if (a.head[1] != b.head[1])
            return a.head[1] < b.head[1];
        const std::size_t n = std::min(a.name.size(), b.name.size());
        for (std::size_t i = 16; i < n; ++i) {
            const unsigned ca = foldedAscii(static_cast<unsigned char>(a.name[i]));
            const unsigned cb = foldedAscii(static_cast<unsigned char>(b.name[i]));
            if (ca != cb)
                return ca < cb;
        }
        if (a.name.size() != b.name.size())
            return a.name.size() < b.name.size();
        return a.name < b.name;
    }
    const std::size_t na = unitCount(a);
    const std::size_t nb = unitCount(b);
    const std::size_t n = std::min(na, nb);
    for (std::size_t i = 0; i < n; ++i) {
        const unsigned ua = unitAt(a, i);
        const unsigned ub = unitAt(b, i);
        if (ua != ub)
            return ua < ub;
    }
    if (na != nb)
        return na < nb;
    return a.name < b.name;
}

} // namespace

SortedName sortedName(const char *name)
{
    SortedName entry;
    entry.name = name;
    entry.ascii = isAscii(entry.name);
    if (!entry.ascii) {
        entry.key = QString::fromUtf8(entry.name.data(), static_cast<int>(entry.name.size())).toLower();
        return entry;
    }
    const std::size_t n = std::min<std::size_t>(entry.name.size(), 16);
    for (std::size_t i = 0; i < n; ++i)
        entry.head[i / 8] |= std::uint64_t{foldedAscii(static_cast<unsigned char>(entry.name[i]))}
                             << (56 - 8 * (i % 8));
    return entry;
}

// Sorts a directory's names by nameLess, moving their indices rather than
// the names with their strings.
void sortNames(std::vector<SortedName> &names)
{
    std::vector<std::uint32_t> order(names.size());
    for (std::size_t i = 0; i < order.size(); ++i)
        order[i] = static_cast<std::uint32_t>(i);
    std::sort(order.begin(), order.end(),
              [&names](std::uint32_t a, std::uint32_t b) { return nameLess(names[a], names[b]); });
    std::vector<SortedName> sorted;
    sorted.reserve(names.size());
    for (const std::uint32_t index : order)
        sorted.push_back(std::move(names[index]));
    names.swap(sorted);
}
