#pragma once

#include <QByteArray>
#include <QString>

// Paths as the bytes the file system takes. A name need not be valid text
// in the local encoding, and a round trip through QString would change such
// a name, so nothing here decodes a path except display().
class LocalPath
{
public:
    enum Kind {
        Missing,      // nothing there, or a link that leads nowhere
        Directory,
        RegularFile,
        OtherKind,    // FIFO, socket, device
        Unreachable   // its status cannot be read (a folder on the way is closed)
    };

    // What the path names, links followed. An empty path names nothing.
    static Kind kindOf(const QByteArray &path);
    // The path below directory, as a record path, of the file that path
    // names (relative to the working directory): the folders leading to
    // either are resolved, the file's own name is not. False where the file
    // does not lie below directory or a folder cannot be resolved.
    static bool below(const QByteArray &directory, const QByteArray &path, QByteArray &recordPath);
    // For messages only: the decoded text, with bytes that are not valid in
    // the local encoding replaced.
    static QString display(const QByteArray &path);
};
