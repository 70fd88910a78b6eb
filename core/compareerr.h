#pragma once

#include "readfailure.h"

#include <QObject>
#include <QString>

#include <string>

// One discrepancy between a tree and its checksums file.
class CompareErr : public QObject
{
    Q_OBJECT
public:
    enum ErrorType { HashDiff = 0, NewFile = 1, AbsentFile = 2, IOError = 3 };

    CompareErr(ErrorType type, const std::string &path);
    ~CompareErr() override;

    const ErrorType type;
    // The file's path below the source directory, forward slashes, decoded
    // for display.
    QString fileName;
    // The same path as the record holds it: the bytes the directory gave.
    const std::string path;
    // For a new file its digest now, for a missing one its stored digest
    // (the first record of its path); empty otherwise.
    std::string digest;

    // Translated in the context "QObject", so that one translation serves
    // every kind of discrepancy.
    virtual QString errorText() const;
};

class CE_HashDiff : public CompareErr
{
    Q_OBJECT
public:
    CE_HashDiff(const std::string &path, const std::string &currentHash,
                const std::string &storedHash);

    QString currentHash;
    QString storedHash;
    // The file was not written after the checksums file, as far as its
    // modification time tells, nor while it was read: the difference may
    // be damage rather than an edit. The message stays the same.
    bool damaged = false;
};

class CE_NewFile : public CompareErr
{
    Q_OBJECT
public:
    explicit CE_NewFile(const std::string &path);
};

class CE_AbsentFile : public CompareErr
{
    Q_OBJECT
public:
    explicit CE_AbsentFile(const std::string &path);
};

// A file or directory that could not be read, for readers of discrepancy
// lists that go on past one; the comparison never creates one. Its kind is
// none of the three that have a message, so it reads "Unknown": whoever
// shows it says why from the failure it keeps.
class CE_IOError : public CompareErr
{
    Q_OBJECT
public:
    explicit CE_IOError(const std::string &path);
    explicit CE_IOError(const ReadFailure &failure);

    ReadFailure::Kind kind = ReadFailure::Kind::File;
    // The errno; 0 where the reason is not known.
    int error = 0;
};
