#pragma once

#include "hashrecord.h"

#include <QFileInfo>
#include <QObject>
#include <QString>

#include <memory>
#include <string>
#include <vector>

class QDir;
class hashwrapper;
class ICreateHashReport;
class CompareErr;

// The checksum engine: lists and hashes a tree, writes and reads the
// checksums file, compares two record lists.
class HashTools : public QObject
{
    Q_OBJECT
public:
    explicit HashTools(const std::string &algorithm, QObject *parent = nullptr);
    ~HashTools() override;

    // Fills records with one record per file below sourceDir, in listing
    // order, or leaves it empty after a cancelled or failed run. The file
    // named checksumFile (if any) is left out of the listing.
    void calculateHashes(const QString &sourceDir, std::vector<HashRecord> &records,
                         ICreateHashReport *report, const QString &checksumFile = QString());

    // Both return the digest of the checksums file as it stands on disk,
    // or an empty string on any failure.
    std::string saveDB(const std::string &fileName, const std::vector<HashRecord> &records);
    std::string loadDB(const std::string &fileName, std::vector<HashRecord> &records);

    void compare(const std::vector<HashRecord> &current, const std::vector<HashRecord> &stored,
                 std::vector<std::unique_ptr<CompareErr>> &errors);

private:
    void collectFiles(const QDir &dir, QFileInfoList &files);

    hashwrapper *hasher;
    std::string algorithm;
};
