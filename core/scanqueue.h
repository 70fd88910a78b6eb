#pragma once

#include "filestamp.h"
#include "packedpaths.h"

#include <cstddef>
#include <exception>
#include <string>
#include <vector>

// The files of a scan in listing order on their way from the listing,
// through the openers and the hashers, to the caller: the paths handed in,
// a ring of slots that carries each file's result, and how far each party
// has got. It takes no lock itself: the pipeline's lock guards all of it
// but the files the listing has added and not yet published, which only the
// listing touches.
class ScanQueue
{
public:
    struct Result
    {
        std::string digest;
        // Anything else a worker met: the caller rethrows it when it
        // reaches the file.
        std::exception_ptr failure;
        // The errno of a file that could not be read; 0 when it was.
        int error = 0;
        // The errno of a resource that ran out (ENOMEM, EMFILE, ENFILE):
        // the caller throws for it when it reaches the file.
        int shortage = 0;
        // The file's status when it was opened and once the last byte of
        // its last read was in: they differ when it was written meanwhile.
        FileStamp before;
        FileStamp after;
        // It changed during each of its reads (see SteadyHash): its digest
        // is that of the last.
        bool changing = false;
        // The file was handed in not to be read: it has no digest.
        bool unread = false;

        // As new, with the digest's room kept for the next file.
        void clear()
        {
            digest.clear();
            error = 0;
            failure = nullptr;
            shortage = 0;
            before = FileStamp();
            after = FileStamp();
            changing = false;
            unread = false;
        }
    };

    // A result taken with its path below the prefix.
    struct Taken
    {
        std::string below;
        Result result;
    };

protected:
    // Files are named nativePrefix followed by the paths handed in. window:
    // results held for the caller at most; openAhead: files claimed by the
    // openers and not yet hashed at most.
    ScanQueue(std::string nativePrefix, std::size_t window, std::size_t openAhead);

    // Each file's result passes from its hasher's core to the caller's:
    // two lines of memory, not one more.
    struct alignas(64) Slot
    {
        Result result;
        enum State : unsigned char { Waiting, Opened, Hashing, Done };
        State state = Waiting;
    };
    Slot &slot(std::size_t index);
    // What an opener hands the hasher of a file it looked at ahead. Such
    // files lie within openAhead of the next file to hash, so each has its
    // own.
    struct OpenedAhead
    {
        // The file's full path.
        std::string path;
        // The hasher is to open it: the opener asked for its content and
        // closed it, or found no descriptor free. Not where the opener's
        // open failed, which the slot's result tells.
        bool hasherOpens = false;
    };
    OpenedAhead &ahead(std::size_t index);

    // The listing's side, without the lock: the next file in listing order,
    // by its path below the prefix, added until it is published.
    void add(const char *below, std::size_t length, bool read);
    bool nothingAdded() const { return added.empty(); }
    void forgetAdded();
    // Under the lock: the files added join the published ones. Short of
    // memory it throws std::bad_alloc and publishes none of them.
    void publishAdded();

    // How many files have been published.
    std::size_t published() const { return paths.size(); }
    bool isUnread(std::size_t index) const { return unreadFiles[index - paths.first()]; }
    // The full path of a published file.
    std::string pathOf(std::size_t index) const;
    void pathInto(std::size_t index, std::string &path) const;
    // The path below the prefix of the next file to take.
    void nextBelow(std::string &below) const;
    // Moves the next file's result, which is done, into result.
    void takeNext(Result &result);
    // Drops the paths of files taken.
    void forgetTaken();
    // How many files could be claimed for opening now, within both windows.
    std::size_t room() const;

    const std::string nativePrefix;
    const std::size_t openAhead;
    std::vector<Slot> ring;
    std::vector<OpenedAhead> openedAhead;

    // Files added since the last publish, touched by the listing only.
    PackedPaths added;
    std::vector<bool> addedUnread;

    // The published paths below the prefix not yet taken, numbered from
    // the first file ever published.
    PackedPaths paths;
    // Beside paths: whether each file is not to be read.
    std::vector<bool> unreadFiles;
    std::size_t nextToOpen = 0;
    std::size_t nextToHash = 0;
    std::size_t nextToTake = 0;
};
