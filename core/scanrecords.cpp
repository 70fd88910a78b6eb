#include "scanrecords.h"

#include <algorithm>
#include <cstdint>

namespace {

// Letter case as digests have it, whatever the locale.
char lowerAscii(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

} // namespace

unsigned ScanRecords::sliceOf(const std::string &recordPath, unsigned slices)
{
    std::uint64_t hash = 14695981039346656037ULL;
    for (const char c : recordPath) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 1099511628211ULL;
    }
    return slices == 0 ? 0 : static_cast<unsigned>(hash % slices) + 1;
}

bool ScanRecords::mayBeDamaged(const std::string &current, const std::string &stored, const FileStamp &before,
                               bool changedWhileRead, long long reference, long long scanStart)
{
    if (reference == 0 || !before.known || changedWhileRead)
        return false;
    const bool sameContent = current.size() == stored.size()
                             && std::equal(current.begin(), current.end(), stored.begin(),
                                           [](char a, char b) { return lowerAscii(a) == lowerAscii(b); });
    if (sameContent)
        return false;
    const long long written = before.modified > scanStart + timeTolerance ? before.changed : before.modified;
    return written <= reference - timeTolerance;
}

std::string ScanRecords::digestAsWritten(std::string digest)
{
    const bool hexadecimal = std::all_of(digest.begin(), digest.end(), [](char c) {
        const char lower = lowerAscii(c);
        return (c >= '0' && c <= '9') || (lower >= 'a' && lower <= 'f');
    });
    if (hexadecimal)
        std::transform(digest.begin(), digest.end(), digest.begin(), lowerAscii);
    return digest;
}
