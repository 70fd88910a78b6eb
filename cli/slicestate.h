#pragma once

#include <QByteArray>

// Where verify --subset next/N keeps the slice its last completed run read:
// a small file holding one line "K/N" (slice K of N, in decimal, then a
// line feed), or nothing before the first run.
class SliceState
{
public:
    explicit SliceState(const QByteArray &fileName);

    // Reads the file, and makes it, empty, where it is missing, so that a
    // state that cannot be kept is told before the tree is read. False,
    // with error() telling why, where it cannot be read, made or replaced,
    // or holds anything else than that one line (0 then).
    bool load();
    // The slice to read now: the one after the last completed, from 1 to
    // slices; 1 where none was completed or the count was another.
    unsigned nextSlice(unsigned slices) const;
    // Records slice of slices as completed: the new line is written beside
    // the file, synced and renamed over it, so that the file holds the old
    // line or the new one whatever happens. False, with error(), where
    // that fails; the old line then stays.
    bool record(unsigned slice, unsigned slices);
    int error() const { return failure; }

private:
    QByteArray name;
    unsigned lastSlice = 0;
    unsigned lastSlices = 0;
    int failure = 0;
};
