#pragma once

// Runs of the engine as orvalen-cli drives it, in this process: a checksums
// file written as the scan streams, a verify that compares each record as
// it comes, an update that rewrites the file.

#include "checksumfile.h"
#include "compareerr.h"
#include "hashtools.h"
#include "storedindex.h"
#include "verifysession.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtTest>

#include <memory>
#include <set>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>

const long long second = 1000000000LL;
// 2020-01-01, long before any checksums file of a test.
const long long longAgo = 1577836800LL * second;

inline std::string nativePath(const QString &path)
{
    return QFile::encodeName(path).toStdString();
}

inline QByteArray sha256Hex(const QByteArray &bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
}

inline void writeFile(const QString &path, const QByteArray &content)
{
    QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly | QIODevice::Truncate), qPrintable(path));
    QCOMPARE(file.write(content), qint64(content.size()));
}

inline QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

// Six files in two levels and names with spaces; the order the listing must
// give is written out by hand below.
inline void makeSampleTree(const QString &root)
{
    writeFile(root + "/b.txt", "bee\n");
    writeFile(root + "/A.txt", "ay\n");
    writeFile(root + "/z/f", "zed");
    writeFile(root + "/Y/f", "why");
    writeFile(root + "/sub dir/my file.txt", "spaced out");
    writeFile(root + "/docs/fox.txt", "The quick brown fox jumps over the lazy dog");
}

inline const char *const sampleOrder[] = {"A.txt", "b.txt", "docs/fox.txt", "sub dir/my file.txt", "Y/f", "z/f"};

inline bool setModified(const QString &path, long long at)
{
    const struct timespec times[2] = {{0, UTIME_OMIT}, {at / second, at % second}};
    return ::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0) == 0;
}

inline long long modifiedAt(const QString &path)
{
    struct stat info;
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return -1;
    return info.st_mtim.tv_sec * second + info.st_mtim.tv_nsec;
}

// The lines of a checksums file for files that hold their own paths.
inline QByteArray recordsOfSelfNamedFiles(const QByteArrayList &paths)
{
    QByteArray lines;
    for (const QByteArray &path : paths)
        lines += sha256Hex(path) + ' ' + path + "\r\n";
    return lines;
}


// What verify finds, a line a difference in the report's order: "damaged",
// "modified", "new", "missing" or "unreadable" and the record path; a move
// as "moved <to> from <from>" on the new file's line. slices 0: no slice.
inline QStringList verifyLines(const QString &tree, const QString &sums, int jobs, unsigned slice = 0,
                               unsigned slices = 0)
{
    HashTools tools("sha256");
    tools.setJobs(jobs);
    VerifySession session(slice, slices);
    if (!session.load(nativePath(sums), "sha256") || session.digest().empty())
        return QStringList{"cannot load"};
    if (!tools.verifyHashes(nativePath(tree), session, nullptr, nativePath(sums)))
        return QStringList{"scan failed"};
    session.finish();
    const VerifySession::Errors &errors = session.errors();

    std::vector<std::size_t> movedFrom(errors.size(), errors.size());
    std::vector<bool> movedAway(errors.size(), false);
    for (const auto &move : VerifySession::findMoves(errors)) {
        movedFrom[move.first] = move.second;
        movedAway[move.second] = true;
    }
    QStringList lines;
    for (std::size_t i = 0; i < errors.size(); ++i) {
        const CompareErr &error = *errors[i];
        const QString path = QString::fromStdString(error.path);
        if (error.type == CompareErr::HashDiff)
            lines << (static_cast<const CE_HashDiff &>(error).damaged ? "damaged " : "modified ") + path;
        else if (error.type == CompareErr::NewFile && movedFrom[i] != errors.size())
            lines << "moved " + path + " from " + QString::fromStdString(errors[movedFrom[i]]->path);
        else if (error.type == CompareErr::NewFile)
            lines << "new " + path;
        else if (error.type == CompareErr::AbsentFile && !movedAway[i])
            lines << "missing " + path;
        else if (error.type == CompareErr::IOError)
            lines << "unreadable " + path;
    }
    return lines;
}

// Writes the checksums file of tree as create does, or with counts as
// update does, counts then telling what became of the stored records. The
// writer is prepared first, which takes the scan's start as the file's
// time. True on success.
inline bool writeSums(const QString &tree, const QString &sums, int jobs, HashTools::UpdateCounts *counts = nullptr,
                      const std::set<std::string> &accepted = std::set<std::string>())
{
    ChecksumFile::Writer writer(nativePath(sums));
    HashTools tools("sha256");
    tools.setJobs(jobs);
    tools.setRecordsToBeWritten(true);
    tools.setAccepted(accepted);
    StoredIndex stored;
    const HashTools::RecordSink append = [&](std::string &path, std::string &digest, const FileStamp &, bool) {
        return writer.append(path, digest);
    };
    if (!writer.prepare() || (counts && tools.loadDB(nativePath(sums), stored).empty()))
        return false;
    return (counts ? tools.updateHashes(nativePath(tree), stored, tools.referenceTime(), append, *counts, nullptr,
                                        nativePath(sums))
                   : tools.streamHashes(nativePath(tree), append, nullptr, nativePath(sums)))
           && !tools.saveDB(writer).empty();
}
