#pragma once

class QString;

// How a tree scan tells its caller how it goes. Per run: reportStart once,
// then reportFile and isCanceled for each file, and at the end reportFinish,
// or reportError, or nothing more after isCanceled returned true.
// A reporter is never owned or deleted through this interface.
class ICreateHashReport
{
public:
    virtual void reportStart(int fileCount) = 0;
    virtual void reportFinish() = 0;
    virtual void reportFile(const QString &relativePath) = 0;
    virtual void reportError(const QString &message) = 0;
    virtual bool isCanceled() = 0;
};
