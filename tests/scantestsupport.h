#pragma once

// What the in-process tests of a scan share: a tree made from a list of
// files, the paths of the records a scan gave, the digest to expect of a
// content, and a reporter that writes its calls down.

#include "hashrecord.h"
#include "icreatehashreport.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <QtTest>

#include <functional>
#include <string>
#include <vector>


// Writes each file of the list below root; a file's content is its own path
// unless given after '='. Directories are made as needed.
inline void makeTree(const QString &root, const QStringList &files)
{
    for (const QString &entry : files) {
        const QString path = entry.section(QLatin1Char('='), 0, 0);
        const QByteArray content = entry.contains(QLatin1Char('='))
            ? entry.section(QLatin1Char('='), 1).toUtf8() : path.toUtf8();
        QVERIFY(QDir(root).mkpath(QFileInfo(path).path()));
        QFile file(root + QLatin1Char('/') + path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(content), qint64(content.size()));
    }
}

inline QStringList pathsOf(const std::vector<HashRecord> &records)
{
    QStringList paths;
    for (const HashRecord &record : records)
        paths << QString::fromStdString(record.path);
    return paths;
}

inline std::string sha256Of(const QByteArray &content)
{
    return QCryptographicHash::hash(content, QCryptographicHash::Sha256).toHex().toStdString();
}

class Recorder : public ICreateHashReport
{
public:
    QStringList calls;
    int cancelAt = 0;  // 1-based file number whose isCanceled answers true
    std::function<void(const QString &)> onFile;

    void reportStart(int fileCount) override { calls << QStringLiteral("start %1").arg(fileCount); }
    void reportFinish() override { calls << QStringLiteral("finish"); }
    void reportFile(const QString &relativePath) override
    {
        calls << QStringLiteral("file ") + relativePath;
        ++files;
        if (onFile)
            onFile(relativePath);
    }
    void reportError(const QString &message) override { calls << QStringLiteral("error ") + message; }
    bool isCanceled() override
    {
        // Asked while the tree is still listed, which takes long on a busy
        // machine, there is no file to stop at yet.
        if (files == 0)
            return false;
        // The engine may also ask while a file is still being hashed; the
        // sequence is the same however often it asks.
        if (calls.isEmpty() || calls.last() != QLatin1String("canceled?"))
            calls << QStringLiteral("canceled?");
        return cancelAt > 0 && files == cancelAt;
    }

private:
    int files = 0;
};
