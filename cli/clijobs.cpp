#include "clijobs.h"

#include "compareerr.h"
#include "consolereport.h"
#include "exitcode.h"
#include "hashfactory.h"
#include "hashrecord.h"
#include "hashtools.h"
#include "hashwrapper.h"
#include "hlexception.h"
#include "interruptflag.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace {

const char engineAlgorithm[] = "sha256";

// Record paths are relative to the directory exactly as it was handed to
// the engine: a relative SOURCE_DIR would leak into every path ("data/a.txt")
// and tie the checksums file to the working directory of the run. An
// absolute, cleaned path gives the same records as the directory chosen in
// the desktop application's dialog.
QString engineSourceDir(const QString &sourceDir)
{
    return QDir(sourceDir).absolutePath();
}

} // namespace

CliJobs::CliJobs(bool quiet, bool progress) : quiet(quiet), progress(progress && !quiet) {}

int CliJobs::create(const QString &sourceDir, const QString &checksumFile)
{
    if (!QDir(sourceDir).exists()) {
        message(tr("Directory is not exists"));
        return ExitError;
    }
    if (checksumFile.isEmpty()) {
        message(tr("File name is not specified"));
        return ExitError;
    }

    HashTools tools(engineAlgorithm);
    std::vector<HashRecord> records;
    const int scanned = scan(tools, sourceDir, checksumFile, records);
    if (scanned != ExitSuccess)
        return scanned;

    // From here on a signal must not cut the write short; the job then
    // simply completes.
    InterruptFlag::setPhase(InterruptFlag::Writing);
    const std::string digest = tools.saveDB(checksumFile.toLocal8Bit().toStdString(), records);
    if (digest.empty()) {
        message(tr("Checksums file creation error"));
        return ExitError;
    }
    output(QByteArray::fromStdString(digest) + '\n');
    return ExitSuccess;
}

int CliJobs::verify(const QString &sourceDir, const QString &checksumFile)
{
    if (!QDir(sourceDir).exists()) {
        message(tr("Directory is not exists"));
        return ExitError;
    }
    if (!QFile::exists(checksumFile)) {
        message(tr("File name is not specified"));
        return ExitError;
    }
    // Learn of an unreadable checksums file before hashing the whole tree,
    // not after; the reader below still has the last word. Only a regular
    // file is opened: opening a FIFO would wait for a writer.
    {
        QFile probe(checksumFile);
        if (!QFileInfo(checksumFile).isFile() || !probe.open(QIODevice::ReadOnly)) {
            message(tr("Checksums file load error"));
            return ExitError;
        }
    }

    HashTools tools(engineAlgorithm);
    std::vector<HashRecord> current;
    const int scanned = scan(tools, sourceDir, checksumFile, current);
    if (scanned != ExitSuccess)
        return scanned;

    // The rest only reads: a signal from now on ends the process at once.
    InterruptFlag::setPhase(InterruptFlag::Reading);
    std::vector<HashRecord> stored;
    const std::string digest = tools.loadDB(checksumFile.toLocal8Bit().toStdString(), stored);
    if (digest.empty()) {
        message(tr("Checksums file load error"));
        return ExitError;
    }

    std::vector<std::unique_ptr<CompareErr>> errors;
    tools.compare(current, stored, errors);

    int changed = 0;
    int added = 0;
    int missing = 0;
    QByteArray report;
    for (const std::unique_ptr<CompareErr> &error : errors) {
        switch (error->type) {
        case CompareErr::HashDiff:
            ++changed;
            break;
        case CompareErr::NewFile:
            ++added;
            break;
        case CompareErr::AbsentFile:
            ++missing;
            break;
        }
        report += QStringLiteral("%1\t%2\n").arg(error->fileName, error->errorText()).toLocal8Bit();
        if (report.size() >= 1 << 16) {
            output(report);
            report.clear();
        }
    }
    output(report);

    info(QString::fromStdString(digest));
    info(tr("%1 files checked: %2 changed, %3 new, %4 missing")
             .arg(current.size())
             .arg(changed)
             .arg(added)
             .arg(missing));
    return errors.empty() ? ExitSuccess : ExitDiscrepancies;
}

int CliJobs::scan(HashTools &tools, const QString &sourceDir, const QString &checksumFile,
                  std::vector<HashRecord> &records)
{
    const QString source = engineSourceDir(sourceDir);
    ConsoleReport report(source, progress);
    InterruptFlag::setPhase(InterruptFlag::Scanning);
    tools.calculateHashes(source, records, &report, checksumFile);
    // A signal that came after the last file still ends the job here,
    // before anything is written.
    if (report.wasCanceled() || InterruptFlag::raised()) {
        message(tr("Interrupted by user"));
        return ExitInterrupted;
    }
    if (report.isFailed()) {
        message(report.errorMessage());
        return ExitError;
    }
    if (!report.isFinished()) {
        message(tr("Checksums calculation did not finish"));
        return ExitError;
    }
    return ExitSuccess;
}

int CliJobs::digest(const QString &algorithm, const QStringList &files)
{
    const std::unique_ptr<hashwrapper> hasher(hashfactory().makeWrapper(algorithm.toStdString()));
    if (!hasher) {
        message(tr("Unknown algorithm \"%1\".").arg(algorithm));
        return ExitError;
    }

    // Nothing is written but stdout, so a signal may end the process at once
    // even in the middle of a big file.
    InterruptFlag::setPhase(InterruptFlag::Reading);
    int status = ExitSuccess;
    for (const QString &file : files) {
        const QByteArray path = QFile::encodeName(file);
        std::string text;
        try {
            text = hasher->digestOfFile(path.toStdString());
        } catch (const hlException &failure) {
            // Later lines must not overtake earlier ones on a shared terminal.
            std::fflush(stdout);
            message(QString::fromStdString(failure.messageText()));
            status = ExitError;
            continue;
        }
        output(digestLine(text, path));
    }
    return status;
}

QByteArray CliJobs::digestLine(const std::string &digest, const QByteArray &path)
{
    QByteArray name;
    name.reserve(path.size());
    bool escaped = false;
    for (const char c : path) {
        switch (c) {
        case '\\':
            name += "\\\\";
            escaped = true;
            break;
        case '\n':
            name += "\\n";
            escaped = true;
            break;
        case '\r':
            name += "\\r";
            escaped = true;
            break;
        default:
            name += c;
        }
    }
    QByteArray line;
    if (escaped)
        line += '\\';
    line += QByteArray::fromStdString(digest);
    line += "  ";
    line += name;
    line += '\n';
    return line;
}

void CliJobs::message(const QString &text) const
{
    const QByteArray bytes = text.toLocal8Bit() + '\n';
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stderr);
}

void CliJobs::info(const QString &text) const
{
    if (!quiet)
        message(text);
}

void CliJobs::output(const QByteArray &bytes)
{
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stdout);
}
