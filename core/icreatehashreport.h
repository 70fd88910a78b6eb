#pragma once

#include <QString>

#include <string>

// How a tree scan tells its caller how it goes. Per run: reportStart once,
// then reportFile and isCanceled for each file, and at the end reportFinish,
// or reportError, or nothing more after isCanceled returned true. A scan
// that hashes while it still lists the tree gives reportStart -1 and the
// count through reportFileCount once it is known, before reportFinish.
// A reporter is never owned or deleted through this interface.
class ICreateHashReport
{
public:
    virtual void reportStart(int fileCount) = 0;
    virtual void reportFinish() = 0;
    virtual void reportFile(const QString &relativePath) = 0;
    virtual void reportError(const QString &message) = 0;
    virtual bool isCanceled() = 0;

    // reportError for a failure that names one path: format is the message
    // with %1 where the path stands, path the path's bytes, which need not
    // be valid text. A reporter that writes names its own way builds its
    // text from these; by default the message is reported as it is.
    virtual void reportPathError(const QString &message, const QString &format, const std::string &path)
    {
        (void)format;
        (void)path;
        reportError(message);
    }
    virtual void reportFileCount(int fileCount) { (void)fileCount; }
    // reportFile with the record's path as bytes; by default its text.
    virtual void reportFileBytes(const std::string &relativePath)
    {
        reportFile(QString::fromStdString(relativePath));
    }
};
