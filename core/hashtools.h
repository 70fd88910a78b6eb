#pragma once

#include "checksumfile.h"
#include "filestamp.h"
#include "hashrecord.h"
#include "readfailure.h"
#include "scanrecords.h"
#include "verifysession.h"

#include <QObject>
#include <QString>

#include <cstddef>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

class hashwrapper;
class ICreateHashReport;
class CompareErr;
class StoredIndex;

// The checksum engine: lists and hashes a tree, writes and reads the
// checksums file, compares two record lists.
class HashTools : public QObject
{
    Q_OBJECT
public:
    explicit HashTools(const std::string &algorithm, QObject *parent = nullptr);
    ~HashTools() override;

    // Fills records with one record per file below sourceDir, in listing
    // order, or leaves it empty after a cancelled or failed run. The file
    // named checksumFile (if any) is left out of the listing, so that a
    // checksums file kept inside the tree does not report itself. Files are
    // hashed by worker threads ahead of the reporter, whose calls all come
    // on the calling thread: reportFile for each file in listing order, then
    // isCanceled once its digest is there; isCanceled also about every
    // 100 ms while a file is still being hashed. A failed run reports the
    // first file in listing order that could not be hashed.
    void calculateHashes(const QString &sourceDir, std::vector<HashRecord> &records,
                         ICreateHashReport *report, const QString &checksumFile = QString());
    // The same scan for paths given as the bytes the file system takes,
    // which need not be valid text. With recordsBelowSource, record paths
    // are the paths below sourceDir even where it is relative.
    void calculateHashes(const std::string &sourceDir, std::vector<HashRecord> &records,
                         ICreateHashReport *report, const std::string &checksumFile,
                         bool recordsBelowSource = false);

    // A scan's records go one by one to a RecordSink (scanrecords.h).
    using RecordSink = ScanRecords::RecordSink;
    // The scan of calculateHashes, record paths below sourceDir, that keeps
    // no list: each record goes to sink in listing order as soon as it is
    // there, and the tree is listed while it is hashed, so that memory does
    // not grow with the tree. The count of files comes last: reportStart
    // gets -1 and reportFileCount the count. True when every file reached
    // sink and the run finished; a failed run reports the first file in
    // listing order that could not be hashed, unless a directory could not
    // be listed, which it reports instead.
    bool streamHashes(const std::string &sourceDir, const RecordSink &sink, ICreateHashReport *report,
                      const std::string &checksumFile);
    // With a sink, the following scans go on past a file or directory
    // that cannot be read: each goes to the sink once, on the calling
    // thread, in listing order among the records (a directory where its
    // files would have come), and the run finishes. False from the sink
    // ends the scan as a record sink's does. Without one (the default),
    // the first such file or directory fails the run.
    using UnreadableSink = ScanRecords::UnreadableSink;
    void setUnreadableSink(UnreadableSink sink) { unreadableSink = std::move(sink); }

    // How many files a streaming scan lists ahead of the one it waits for.
    void setListAhead(std::size_t files) { listAhead = files; }

    // Whether the records of the following scans are to be written to a
    // checksums file: a file whose path no line there can hold (a line
    // feed in it) then fails the scan as it is listed, before any file is
    // reported, instead of the write after hours of hashing. Off, such a
    // file is scanned like any other.
    void setRecordsToBeWritten(bool toBeWritten);

    // Whether calculateHashes keeps each file's status as it was read, so
    // that compare can tell an edit from damage.
    void setStampsWanted(bool wanted);

    // A file whose status (size, modification or inode change time) moved
    // while it was read is read again, at most three times more, so that
    // its digest is that of one content it held; compare and verifyHashes
    // report such a file as modified even where that digest matches. The
    // record paths of the files of the last scan that changed during every
    // read, in listing order: each keeps the digest of its last read.
    const std::vector<std::string> &changingFiles() const { return changingRecords; }

    // The moment a checksums file's records were taken: its modification
    // time, set to the start of the scan that wrote it. loadDB takes it
    // from the file it reads; compare measures against it. 0 for none.
    void setReferenceTime(long long nanoseconds);
    long long referenceTime() const;
    // How far an edit may be dated before the reference (ScanRecords).
    static constexpr long long timeTolerance = ScanRecords::timeTolerance;

    // What updateHashes did with the stored records.
    using UpdateCounts = ScanRecords::UpdateCounts;
    // Record paths that the following updates read whatever their status,
    // and whose current digests they store even where the files may be
    // damaged: edits made with the old modification time kept.
    void setAccepted(std::set<std::string> recordPaths) { acceptedPaths = std::move(recordPaths); }
    // A streaming scan that reads only what may have changed: files not in
    // stored, and files written (or whose inode changed) after
    // referenceTime less the tolerance. Every other file keeps its stored
    // digest without being read. Each record goes to sink as it comes,
    // record paths below sourceDir, as a full scan would make them but for
    // held-back files. True when the run finished.
    bool updateHashes(const std::string &sourceDir, StoredIndex &stored, long long referenceTime,
                      const RecordSink &sink, UpdateCounts &counts, ICreateHashReport *report,
                      const std::string &checksumFile);

    // The slice, 1 to slices, a record path falls into: ScanRecords::sliceOf.
    static unsigned sliceOf(const std::string &recordPath, unsigned slices);

    // How many files are hashed at once: 0 chooses from the machine, 1
    // hashes one file after another on the calling thread; more than
    // maxJobs count as maxJobs.
    static constexpr int maxJobs = 256;
    void setJobs(int jobs);
    int jobs() const;

    // "DB" is the checksums file. Both return its digest as it stands on
    // disk, or an empty string on any failure; neither throws. saveDB
    // replaces the file as a whole or not at all. loadDB extends records,
    // and leaves them as they were when it fails.
    std::string saveDB(const std::string &fileName, const std::vector<HashRecord> &records);
    // saveDB through a writer prepared before the scan, which keeps the
    // system's reason when it fails.
    std::string saveDB(ChecksumFile::Writer &writer, const std::vector<HashRecord> &records);
    // saveDB for a writer that was handed its records through append.
    std::string saveDB(ChecksumFile::Writer &writer);
    // Has the writer take the digest of what it writes, before its first
    // append, so that saveDB need not read the whole file back.
    void digestWhileWriting(ChecksumFile::Writer &writer) const;
    std::string loadDB(const std::string &fileName, std::vector<HashRecord> &records);
    // loadDB into a compact index, replacing what it held. Unlike the others
    // it throws std::bad_alloc where memory runs out, so that a caller can
    // tell that from a file that is no checksums file.
    std::string loadDB(const std::string &fileName, StoredIndex &index);

    // The differences a VerifySession finds, dated by the reference time,
    // with the last scan as the scan: a stored record of the checksums file
    // where that scan met it, or one its ignore rules exclude, is not
    // missing. Where that scan took the files' status (setStampsWanted) and
    // a reference time is known, a difference tells whether the file may be
    // damaged.
    void compare(const std::vector<HashRecord> &current, const std::vector<HashRecord> &stored,
                 std::vector<std::unique_ptr<CompareErr>> &errors);

    // A verify that keeps no list: the scan of streamHashes, each record
    // and each file or directory that cannot be read going to session as it
    // comes, reading only the session's slice where it has one; then what
    // the scan found besides (VerifySession::scanned). True when the run
    // finished.
    bool verifyHashes(const std::string &sourceDir, VerifySession &session, ICreateHashReport *report,
                      const std::string &checksumFile);

private:
    // countFirst: the files are counted before the first is reported, and
    // the listing runs ahead as far as it goes; otherwise at most
    // listAhead files, and the count comes last.
    bool scanTree(const std::string &sourceDir, const RecordSink &sink, ICreateHashReport *report,
                  const std::string &checksumFile, bool recordsBelowSource, bool countFirst);
    bool hashTree(const std::string &sourceDir, const RecordSink &sink, ICreateHashReport *report,
                  const std::string &checksumFile, bool recordsBelowSource, bool countFirst);

    std::string digestOrEmpty(const std::string &fileName);
    // After a checksums file was read: takes its time as the reference and
    // returns its digest, or an empty string.
    std::string readFrom(const std::string &fileName);

    hashwrapper *hasher;
    std::string algorithm;
    int jobCount = 0;
    std::size_t listAhead = 65536;
    bool recordsToBeWritten = false;
    // What compare takes of the last scan besides its records.
    VerifySession::ScanFacts lastScan;
    bool stampsWanted = false;
    long long reference = 0;
    // With stampsWanted, the status of each record's file from the last
    // scan, in record order; whether each was written while it was read,
    // always.
    std::vector<FileStamp> stampsBefore;
    std::vector<bool> changedWhileRead;
    std::vector<std::string> changingRecords;
    // Set for the length of updateHashes.
    StoredIndex *updatedFrom = nullptr;
    UpdateCounts *updateCounts = nullptr;
    std::set<std::string> acceptedPaths;
    // Set for the length of verifyHashes.
    VerifySession *verifying = nullptr;
    UnreadableSink unreadableSink;
};
