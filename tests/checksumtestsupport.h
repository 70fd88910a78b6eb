#pragma once

// Helpers shared by the tests of the checksums file and of its writer.

#include "hashrecord.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QFile>
#include <QString>
#include <QStringList>

#include <cstring>
#include <string>
#include <vector>

#include <dirent.h>

// The SHA-256 of "The quick brown fox jumps over the lazy dog".
inline const std::string fox = "d7a8fbb307d7809469ca9abcb0082e4f8d5651e46d3cdb762d02d0bf37c9e592"; // clazy:exclude=non-pod-global-static

inline std::string sha256Of(const QByteArray &content)
{
    return QCryptographicHash::hash(content, QCryptographicHash::Sha256).toHex().toStdString();
}

inline QByteArray contentOf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

inline bool writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

inline QStringList describe(const std::vector<HashRecord> &records)
{
    QStringList lines;
    for (const HashRecord &record : records)
        lines << QString::fromStdString(record.hash) + "|" + QString::fromStdString(record.path);
    return lines;
}

// The entries of a folder, every name counted (QDir cannot list them all).
inline int namesIn(const QString &path)
{
    DIR *listing = ::opendir(QFile::encodeName(path).constData());
    if (!listing)
        return -1;
    int entries = 0;
    while (const dirent *entry = ::readdir(listing))
        entries += std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0;
    ::closedir(listing);
    return entries;
}
