#pragma once

#include <QByteArray>

#include <sys/types.h>

// A small file written whole or not at all: the content goes into a
// temporary file beside it, is synced, and is renamed over the file; the
// folder is synced after, so that the rename lasts too. Readers see the old
// file or the new one, never part of either.
class AtomicFile
{
public:
    // temporaryPattern: the temporary file's path, ending in "XXXXXX", in
    // the same folder as path. False with the system's errno in error; no
    // temporary file is left behind.
    static bool replace(const QByteArray &path, QByteArray temporaryPattern, const QByteArray &content,
                        mode_t mode, int &error);
};
