#include "verifysession.h"

#include "scanrecords.h"

#include "hashfactory.h"
#include "hashwrapper.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <new>
#include <thread>
#include <unordered_map>

#if defined(ORVALEN_POSIX)
#include <sys/stat.h>
#endif

namespace {

std::atomic<int> tableDelayForTesting{0};

} // namespace

VerifySession::VerifySession(unsigned slice, unsigned slices)
    : readSlice(slices == 0 ? 0 : slice), sliceCount(slices)
{
}

VerifySession::~VerifySession()
{
    if (!loaded && loading.valid())
        loading.wait();
}

bool VerifySession::load(const std::string &fileName, const std::string &algorithm)
{
    if (sliceCount != 0) {
        const std::unique_ptr<hashwrapper> hasher(hashfactory().makeWrapper(algorithm));
        if (hasher)
            fileDigest = loadIndex(*hasher, fileName, index, reference);
        indexRead = !fileDigest.empty();
        return indexRead;
    }
    // The records and the file's digest are read in two passes side by
    // side, so that the scan, which waits for the records, does not wait
    // for the digest as well; the digest is asked for once the scan is
    // done. The readers are handed over by name: libstdc++ moves a
    // temporary into the thread that fails to start and defers the
    // moved-from rest, whose path is then empty.
    const auto read = [this, fileName] {
        try {
            indexRead = readRecords(fileName, index, reference);
        } catch (...) {
            // The first record waits no longer and meets this at the end
            // of the reading.
            recordsRead.set_value();
            throw;
        }
        recordsRead.set_value();
        if (indexRead && tableDelayForTesting.load() > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(tableDelayForTesting.load()));
        if (indexRead)
            index.buildTable();
    };
    const auto digestOf = [this, fileName, algorithm] {
        const std::unique_ptr<hashwrapper> hasher(hashfactory().makeWrapper(algorithm));
        if (hasher)
            fileDigest = digestOrEmpty(*hasher, fileName);
    };
    loaded = false;
    recordsKnown = false;
    recordsRead = std::promise<void>();
    recordsReady = recordsRead.get_future();
    loading = std::async(std::launch::async | std::launch::deferred, read);
    digesting = std::async(std::launch::async | std::launch::deferred, digestOf);
    return true;
}

void VerifySession::assign(const std::vector<HashRecord> &records, long long referenceTime)
{
    waitForIndex();
    index.assign(records);
    reference = referenceTime;
    indexRead = true;
}

const std::string &VerifySession::digest()
{
    waitForIndex();
    if (digesting.valid())
        digesting.get();
    // A file whose records could not be read has no digest to give.
    if (!indexRead)
        fileDigest.clear();
    return fileDigest;
}

StoredIndex &VerifySession::stored()
{
    waitForIndex();
    return index;
}

void VerifySession::waitForIndex()
{
    if (loaded)
        return;
    loaded = true;
    recordsKnown = true;
    loading.get();
}

void VerifySession::waitForRecords()
{
    if (recordsKnown)
        return;
    // A reading that could not have a thread of its own runs here, whole.
    if (loading.wait_for(std::chrono::seconds(0)) == std::future_status::deferred) {
        waitForIndex();
        return;
    }
    recordsReady.wait();
    recordsKnown = true;
    // Nothing to compare with: the reading is over, and its failure, if it
    // threw, is thrown here.
    if (!indexRead)
        waitForIndex();
}

void VerifySession::delayTableForTesting(int milliseconds)
{
    tableDelayForTesting.store(milliseconds);
}

void VerifySession::check(const std::string &path, const std::string &digest, const FileStamp &before,
                          bool changedWhileRead)
{
    waitForRecords();
    ++checkedFiles;
    if (sliceCount != 0 && ScanRecords::sliceOf(path, sliceCount) == readSlice)
        ++filesOfSlice;
    if (indexRead)
        compare(path, digest, before, changedWhileRead, nullptr);
}

void VerifySession::check(const std::vector<HashRecord> &records, const std::vector<FileStamp> &stamps,
                          const std::vector<bool> &changedWhileRead)
{
    waitForIndex();
    const std::size_t count = records.size();
    checkedFiles += static_cast<long long>(count);
    if (sliceCount != 0) {
        for (const HashRecord &record : records)
            filesOfSlice += ScanRecords::sliceOf(record.path, sliceCount) == readSlice ? 1 : 0;
    }
    if (!indexRead)
        return;
    const bool stamped = stamps.size() == count;
    const bool told = changedWhileRead.size() == count;
    // A list of millions does not fit in the cache: each look-up's slot is
    // loaded this many records ahead, so that the misses overlap.
    constexpr std::size_t ahead = 16;
    std::uint64_t hashes[ahead];
    for (std::size_t i = 0; i < count + ahead; ++i) {
        if (i >= ahead) {
            const std::size_t at = i - ahead;
            compare(records[at].path, records[at].hash, stamped ? stamps[at] : FileStamp(),
                    told && changedWhileRead[at], &hashes[at % ahead]);
        }
        if (i < count) {
            hashes[i % ahead] = StoredIndex::hashOf(records[i].path.data(), records[i].path.size());
            index.prefetch(hashes[i % ahead]);
        }
    }
}

void VerifySession::compare(const std::string &path, const std::string &digest, const FileStamp &before,
                            bool changedWhileRead, const std::uint64_t *knownHash)
{
    std::size_t record;
    if (index.isAt(nextRecord, path.data(), path.size())) {
        // Until a look-up first misses, each file met is the next record
        // from the first on: no earlier record holds its path, since the
        // scan meets each path once, so this record is the one that counts
        // and the table is not needed yet. After that the table says.
        record = loaded ? index.counting(nextRecord) : nextRecord;
        ++nextRecord;
    } else {
        waitForIndex();
        const std::uint64_t hash = knownHash ? *knownHash : StoredIndex::hashOf(path.data(), path.size());
        record = index.find(path.data(), path.size(), hash, nextRecord);
    }
    if (record == StoredIndex::none) {
        differences.push_back(std::make_unique<CE_NewFile>(path));
        differences.back()->digest = digest;
        return;
    }
    index.markSeen(record);
    if (index.digestIs(record, digest) && !changedWhileRead)
        return;
    std::string storedDigest = index.digest(record);
    differences.push_back(std::make_unique<CE_HashDiff>(path, digest, storedDigest));
    stamps.push_back(Stamped{differences.size() - 1, before, changedWhileRead, digest, std::move(storedDigest)});
}

void VerifySession::unreadable(const ReadFailure &failure)
{
    waitForIndex();
    if (indexRead) {
        const std::size_t hidden
            = forEachHidden(index, failure, [this](std::size_t record) { index.markSeen(record); });
        if (failure.kind == ReadFailure::Kind::Directory)
            recordsNotChecked += static_cast<long long>(hidden);
    }
    differences.push_back(std::make_unique<CE_IOError>(failure));
}

void VerifySession::finish()
{
    waitForIndex();
    if (!indexRead)
        return;
    for (const Stamped &stamp : stamps) {
        static_cast<CE_HashDiff &>(*differences[stamp.error]).damaged = ScanRecords::mayBeDamaged(
            stamp.current, stamp.stored, stamp.before, stamp.changedWhileRead, reference, scan.start);
    }
    stamps.clear();
    for (std::size_t record = 0; record < index.recordCount(); ++record) {
        const std::size_t first = index.counting(record);
        if (index.wasSeen(first))
            continue;
        const std::string path = index.path(record);
        if (!countsAsMissing(path))
            continue;
        differences.push_back(std::make_unique<CE_AbsentFile>(path));
        differences.back()->digest = index.digest(first);
    }
}

bool VerifySession::countsAsMissing(const std::string &recordPath) const
{
    if (std::find(scan.checksumsFileRecords.begin(), scan.checksumsFileRecords.end(), recordPath)
        != scan.checksumsFileRecords.end())
        return false;
    const std::string &prefix = scan.ignoredPrefix;
    if (scan.ignoreRules.isEmpty() || recordPath.compare(0, prefix.size(), prefix) != 0)
        return true;
    return !scan.ignoreRules.excluded(recordPath.data() + prefix.size(), recordPath.size() - prefix.size(),
                                      false);
}

bool VerifySession::hides(const ReadFailure &failure, const std::string &recordPath)
{
    if (failure.kind == ReadFailure::Kind::File)
        return recordPath == failure.path;
    return recordPath.size() > failure.path.size() && recordPath[failure.path.size()] == '/'
           && recordPath.compare(0, failure.path.size(), failure.path) == 0;
}

std::size_t VerifySession::forEachHidden(const StoredIndex &stored, const ReadFailure &failure,
                                         const std::function<void(std::size_t record)> &take)
{
    if (failure.kind == ReadFailure::Kind::File) {
        const std::size_t record = stored.find(failure.path.data(), failure.path.size());
        if (record == StoredIndex::none)
            return 0;
        take(record);
        return 1;
    }
    // Rare, and once per directory: a walk over every record costs less
    // than an index of directories kept for every run.
    std::size_t count = 0;
    for (std::size_t record = 0; record < stored.recordCount(); ++record) {
        if (stored.counting(record) != record || !hides(failure, stored.path(record)))
            continue;
        take(record);
        ++count;
    }
    return count;
}

std::vector<std::pair<std::size_t, std::size_t>> VerifySession::findMoves(const Errors &errors)
{
    std::unordered_map<std::string, std::size_t> firstNew;
    for (std::size_t i = 0; i < errors.size(); ++i) {
        if (errors[i]->type == CompareErr::NewFile && !errors[i]->digest.empty())
            firstNew.emplace(errors[i]->digest, i);
    }
    std::vector<std::pair<std::size_t, std::size_t>> moves;
    if (firstNew.empty())
        return moves;
    for (std::size_t i = 0; i < errors.size(); ++i) {
        if (errors[i]->type != CompareErr::AbsentFile || errors[i]->digest.empty())
            continue;
        const auto found = firstNew.find(errors[i]->digest);
        if (found == firstNew.end())
            continue;
        moves.emplace_back(found->second, i);
        firstNew.erase(found);
    }
    std::sort(moves.begin(), moves.end());
    return moves;
}

bool VerifySession::readIndex(const std::string &fileName, StoredIndex &index, long long &reference)
{
    if (!readRecords(fileName, index, reference))
        return false;
    try {
        index.buildTable();
    } catch (...) {
        index = StoredIndex();
        throw;
    }
    return true;
}

bool VerifySession::readRecords(const std::string &fileName, StoredIndex &index, long long &reference)
{
    try {
        if (index.loadRecords(fileName)) {
#if defined(ORVALEN_POSIX)
            struct stat info;
            reference = ::stat(fileName.c_str(), &info) == 0 ? FileStamp::of(info).modified : 0;
#endif
            return true;
        }
    } catch (const std::bad_alloc &) {
        index = StoredIndex();
        throw;
    } catch (...) {
    }
    index = StoredIndex();
    return false;
}

std::string VerifySession::digestOrEmpty(hashwrapper &hasher, const std::string &fileName)
{
    try {
        return hasher.digestOfFile(fileName);
    } catch (...) {
        return std::string();
    }
}

std::string VerifySession::loadIndex(hashwrapper &hasher, const std::string &fileName, StoredIndex &index,
                                     long long &reference)
{
    if (!readIndex(fileName, index, reference))
        return std::string();
    std::string digest = digestOrEmpty(hasher, fileName);
    if (digest.empty())
        index = StoredIndex();
    return digest;
}
