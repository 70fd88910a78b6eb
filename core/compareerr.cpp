#include "compareerr.h"

CompareErr::CompareErr(ErrorType type, const std::string &path)
    : type(type), fileName(QString::fromStdString(path)), path(path)
{
}

CompareErr::~CompareErr() = default;

QString CompareErr::errorText() const
{
    switch (type) {
    case HashDiff:
        return QObject::tr("Checksums does not match");
    case NewFile:
        return QObject::tr("New file");
    case AbsentFile:
        return QObject::tr("File not found");
    case IOError:
        break;
    }
    return QObject::tr("Unknown");
}

CE_HashDiff::CE_HashDiff(const std::string &path, const std::string &currentHash,
                         const std::string &storedHash)
    : CompareErr(HashDiff, path),
      currentHash(QString::fromStdString(currentHash)),
      storedHash(QString::fromStdString(storedHash))
{
}

CE_NewFile::CE_NewFile(const std::string &path) : CompareErr(NewFile, path)
{
}

CE_AbsentFile::CE_AbsentFile(const std::string &path) : CompareErr(AbsentFile, path)
{
}

CE_IOError::CE_IOError(const std::string &path) : CompareErr(IOError, path)
{
}

CE_IOError::CE_IOError(const ReadFailure &failure)
    : CompareErr(IOError, failure.path), kind(failure.kind), error(failure.error)
{
}
