#pragma once

#include "compareerr.h"
#include "filestamp.h"
#include "hashrecord.h"
#include "ignorerules.h"
#include "readfailure.h"
#include "storedindex.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <utility>
#include <vector>

class hashwrapper;

// One verify of a tree against its checksums file: the stored records, each
// record of the scan compared with them as it comes, then the stored
// records whose files the scan never reached, and the moves among the
// differences. The scan of orvalen-cli streams into it; the desktop's
// comparison of two record lists feeds it the current list.
class VerifySession
{
public:
    using Errors = std::vector<std::unique_ptr<CompareErr>>;

    // What a scan leaves for the comparison besides its records.
    struct ScanFacts
    {
        // When it began, by the system's clock.
        long long start = 0;
        // The record paths at which it met the checksums file and left it
        // out: a stored record of it is not missing, as the program that
        // wrote the file may have hashed it along with the rest.
        std::vector<std::string> checksumsFileRecords;
        // Its ignore rules, and what stands before the path below the
        // source directory in its record paths: a stored record they
        // exclude is not missing, as the rules may be younger than the file.
        IgnoreRules ignoreRules;
        std::string ignoredPrefix;
    };

    // Rolling scrubs: slices 0 reads every file; otherwise the scan reads
    // only slice `slice` of `slices` (ScanRecords::sliceOf) and the files
    // without a stored record, so that new files can still be matched to
    // missing ones; every other file takes its stored digest unread and so
    // cannot differ.
    explicit VerifySession(unsigned slice = 0, unsigned slices = 0);
    ~VerifySession();
    VerifySession(const VerifySession &) = delete;
    VerifySession &operator=(const VerifySession &) = delete;

    // Reads the checksums file with a hasher of its own for algorithm (the
    // scan's is not to be shared). With a slice, which the stored records
    // choose, it is read at once and false tells that it could not be;
    // otherwise while the scan begins, its records on one thread of their
    // own and its digest on another: the first record waits for the
    // records, digest() for both. The reading ends inside the session's
    // calls, whatever the scan's outcome; where no thread can start it is
    // done on the first wait.
    bool load(const std::string &fileName, const std::string &algorithm);
    // For tests: sessions loading from now on build their table this much
    // later than they read their records; 0 for at once.
    static void delayTableForTesting(int milliseconds);
    // Holds records as a checksums file holding them would give them,
    // written at reference (0 for not known).
    void assign(const std::vector<HashRecord> &records, long long reference);
    // The digest of the checksums file read, empty where it could not be;
    // waits for the reading.
    const std::string &digest();

    unsigned slice() const { return readSlice; }
    unsigned slices() const { return sliceCount; }
    // The stored records, once read; waits for the reading.
    StoredIndex &stored();

    // The scan's side, on one thread, in listing order. Each record is
    // compared unless the checksums file could not be read: the scan still
    // runs to its end, so that a file or directory that fails it is told
    // first. A file written while it was read was modified now, whatever
    // content its last read found.
    void check(const std::string &path, const std::string &digest, const FileStamp &before,
               bool changedWhileRead);
    // check for each record of a list in its order: its file's status where
    // stamps holds one for each record, and whether it was written while it
    // was read where changedWhileRead does.
    void check(const std::vector<HashRecord> &records, const std::vector<FileStamp> &stamps,
               const std::vector<bool> &changedWhileRead);
    // A file or directory that cannot be read takes its place among the
    // differences; its stored records are neither compared nor missing.
    void unreadable(const ReadFailure &failure);
    // After the scan: what it found besides the records.
    void scanned(ScanFacts facts) { scan = std::move(facts); }
    // Judges each difference as an edit or possible damage, against the
    // checksums file's time and the scan's start, and adds the stored
    // records whose files the scan never reached, in their order.
    void finish();

    Errors &errors() { return differences; }
    // Files the scan handed over; those of the slice, new ones among them;
    // stored records below directories that could not be read.
    long long checked() const { return checkedFiles; }
    long long sliceFiles() const { return filesOfSlice; }
    long long notChecked() const { return recordsNotChecked; }

    // Calls take for each stored record that counts (the first of its path)
    // and that the failure hides: the file's own, or every one below the
    // directory. Returns how many.
    static std::size_t forEachHidden(const StoredIndex &stored, const ReadFailure &failure,
                                     const std::function<void(std::size_t record)> &take);
    // Whether the failure hides the record path.
    static bool hides(const ReadFailure &failure, const std::string &recordPath);

    // Pairs of indices into errors, a new file first and a missing one
    // second, that hold the same content: one file moved. Each digest
    // makes at most one pair, its first new file in listing order with its
    // first missing record.
    static std::vector<std::pair<std::size_t, std::size_t>> findMoves(const Errors &errors);

    // Reads fileName into index, replacing what it held, and returns the
    // file's digest by hasher; reference becomes its modification time. An
    // empty digest, the index emptied, where either fails; std::bad_alloc
    // is thrown on, so that a caller can tell that from a file that is no
    // checksums file.
    static std::string loadIndex(hashwrapper &hasher, const std::string &fileName, StoredIndex &index,
                                 long long &reference);
    // The digest of fileName by hasher; empty where it cannot be read.
    static std::string digestOrEmpty(hashwrapper &hasher, const std::string &fileName);

private:
    // loadIndex's first half, the records, which throws std::bad_alloc on;
    // its second is digestOrEmpty. readRecords leaves the table to be built.
    static bool readIndex(const std::string &fileName, StoredIndex &index, long long &reference);
    static bool readRecords(const std::string &fileName, StoredIndex &index, long long &reference);
    // The records with their table, and the records alone, which is all
    // a look-up in the file's order needs.
    void waitForIndex();
    void waitForRecords();
    // knownHash: the path's StoredIndex::hashOf where the caller has it;
    // else it is taken only where the table is needed.
    void compare(const std::string &path, const std::string &digest, const FileStamp &before,
                 bool changedWhileRead, const std::uint64_t *knownHash);
    // Whether a stored record the scan did not reach counts as missing:
    // neither the checksums file itself nor ignored.
    bool countsAsMissing(const std::string &recordPath) const;

    const unsigned readSlice;
    const unsigned sliceCount;
    StoredIndex index;
    // Where the next look-up tries first.
    std::size_t nextRecord = 0;
    std::string fileDigest;
    long long reference = 0;
    std::future<void> loading;
    bool loaded = true;
    std::promise<void> recordsRead;
    std::future<void> recordsReady;
    bool recordsKnown = true;
    // Declared after what it writes: a digest still being taken is waited
    // for before fileDigest goes.
    std::future<void> digesting;
    // Whether there are stored records to compare with.
    bool indexRead = false;
    ScanFacts scan;
    Errors differences;
    // Each difference's file status as it was read, judged once the scan's
    // start is known.
    struct Stamped
    {
        std::size_t error;
        FileStamp before;
        bool changedWhileRead;
        std::string current;
        std::string stored;
    };
    std::vector<Stamped> stamps;
    long long checkedFiles = 0;
    long long filesOfSlice = 0;
    long long recordsNotChecked = 0;
};
