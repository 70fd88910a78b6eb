#pragma once

#include "icreatehashreport.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QString>

#include <cstdint>
#include <string>

// Reporter of a tree scan on a terminal: remembers how the run ended, takes
// SIGINT/SIGTERM as a cancel, and, when asked to, draws a one-line progress
// display on stderr, redrawn at most ten times a second.
class ConsoleReport final : public ICreateHashReport
{
    Q_DECLARE_TR_FUNCTIONS(ConsoleReport)

public:
    // sourceDir is the directory the relative paths are relative to, as the
    // bytes the file system takes; it is needed only to add up file sizes
    // for the transfer rate.
    ConsoleReport(const QByteArray &sourceDir, bool showProgress);
    ~ConsoleReport();

    void reportStart(int fileCount) override;
    void reportFinish() override;
    void reportFileCount(int fileCount) override;
    void reportFile(const QString &relativePath) override;
    void reportError(const QString &message) override;
    bool isCanceled() override;
    void reportPathError(const QString &message, const QString &format, const std::string &path) override;
    void reportFileBytes(const std::string &relativePath) override;

    bool isFinished() const;
    bool isFailed() const;
    bool wasCanceled() const;
    QString errorMessage() const;
    // The error as it goes to the terminal, in the local encoding, a path
    // in it written as the verify report writes paths.
    QByteArray errorText() const;

private:
    void draw();
    void clearLine();
    std::int64_t fileSize(const QByteArray &relativePath) const;

    QByteArray sourcePrefix;
    bool showProgress;
    bool lineShown = false;
    bool finished = false;
    bool failed = false;
    bool canceled = false;
    QString error;
    QString errorFormat;
    QByteArray errorPath;
    int total = 0;
    int started = 0;
    std::int64_t bytes = 0;
    QByteArray currentFile;
    QElapsedTimer clock;
    qint64 lastDraw = 0;
};
