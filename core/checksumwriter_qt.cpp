#include "checksumwriter.h"

#include "checksumline.h"
#include "hashfactory.h"
#include "hashwrapper.h"

#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QString>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <string>

struct ChecksumWriter::State
{
    std::string fileName;
    int error = 0;
    bool prepared = false;
    bool committed = false;
    std::string pending;
    std::string digestAlgorithm;
    std::string digest;
    bool broken = false;

    void discard()
    {
        pending.clear();
        digest.clear();
        prepared = false;
        committed = false;
    }
    bool fail(int reason)
    {
        discard();
        error = reason;
        return false;
    }
};

bool ChecksumWriter::prepare()
{
    State &s = *state;
    if (s.prepared)
        return true;
    s.error = 0;
    const QString name = QFile::decodeName(QByteArray::fromStdString(s.fileName));
    if (name.isEmpty() || QFile::encodeName(name).toStdString() != s.fileName)
        return s.fail(EINVAL);
    const QFileInfo existing(name);
    if (existing.exists()) {
        if (existing.isDir())
            return s.fail(EISDIR);
        if (!existing.isFile())
            return s.fail(EINVAL);
        if (!existing.isWritable())
            return s.fail(EACCES);
    } else if (!QFileInfo(existing.absolutePath()).isDir()) {
        return s.fail(ENOENT);
    }
    s.prepared = true;
    return true;
}

bool ChecksumWriter::append(const std::string &path, const std::string &digest)
{
    State &s = *state;
    if (s.broken)
        return false;
    s.broken = true;
    if (!ChecksumLine::fits(path, digest))
        return s.fail(0);
    if (s.committed || !prepare())
        return s.fail(s.committed ? EINVAL : s.error);
    ChecksumLine::append(s.pending, path, digest);
    s.broken = false;
    return true;
}

bool ChecksumWriter::commit()
{
    State &s = *state;
    if (s.broken)
        return false;
    if (s.committed || !prepare())
        return s.fail(s.committed ? EINVAL : s.error);
    QSaveFile out(QFile::decodeName(QByteArray::fromStdString(s.fileName)));
    if (!out.open(QIODevice::WriteOnly))
        return s.fail(EACCES);
    const qint64 size = static_cast<qint64>(s.pending.size());
    if (out.write(s.pending.data(), size) != size || !out.commit())
        return s.fail(EIO);
    if (!s.digestAlgorithm.empty()) {
        const std::unique_ptr<hashwrapper> digester(hashfactory().makeWrapper(s.digestAlgorithm));
        if (digester) {
            digester->startDigest();
            constexpr std::size_t piece = 1 << 20;
            for (std::size_t at = 0; at < s.pending.size(); at += piece)
                digester->addData(reinterpret_cast<const unsigned char *>(s.pending.data()) + at,
                                  static_cast<unsigned int>(std::min(piece, s.pending.size() - at)));
            digester->finishDigestInto(s.digest);
        }
    }
    s.pending = std::string();
    s.committed = true;
    return true;
}

void ChecksumWriter::digestAs(const std::string &algorithm)
{
    if (state->pending.empty() && !state->committed)
        state->digestAlgorithm = algorithm;
}

const std::string &ChecksumWriter::writtenDigest() const
{
    static const std::string none;
    return state->committed ? state->digest : none;
}

int ChecksumWriter::committedFile() const
{
    return -1;
}

bool ChecksumWriter::timeKept() const
{
    return state->committed;
}

bool ChecksumWriter::foundAtName() const
{
    return state->committed;
}

std::string ChecksumWriter::committedPath() const
{
    return std::string();
}

void ChecksumWriter::setTimesCall(TimesCall)
{
}

int ChecksumWriter::temporaryFolder() const
{
    return -1;
}

const char *ChecksumWriter::temporaryName() const
{
    return nullptr;
}

void ChecksumWriter::setAttributeCalls(ModeCall, OwnerCall)
{
}

ChecksumWriter::ChecksumWriter(const std::string &fileName) : state(std::make_unique<State>())
{
    state->fileName = fileName;
}

ChecksumWriter::~ChecksumWriter()
{
    state->discard();
}

bool ChecksumWriter::refuse(int reason)
{
    return state->fail(reason);
}

int ChecksumWriter::error() const
{
    return state->error;
}

const std::string &ChecksumWriter::fileName() const
{
    return state->fileName;
}
