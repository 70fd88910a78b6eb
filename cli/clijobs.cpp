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
#include "localpath.h"

#include <QByteArray>

#include <cstdio>
#include <future>
#include <memory>
#include <string>
#include <vector>

namespace {

const char engineAlgorithm[] = "sha256";

const char hexDigits[] = "0123456789abcdef";

} // namespace

CliJobs::CliJobs(bool quiet, bool progress, int jobs)
    : quiet(quiet), progress(progress && !quiet), jobs(jobs)
{
}

int CliJobs::create(const QByteArray &sourceDir, const QByteArray &checksumFile)
{
    // An empty path is no directory: taken as the working directory, it would
    // guard whatever folder the command happened to run in.
    if (LocalPath::kindOf(sourceDir) != LocalPath::Directory) {
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
    const std::string digest = tools.saveDB(checksumFile.toStdString(), records);
    if (digest.empty()) {
        message(tr("Checksums file creation error"));
        return ExitError;
    }
    output(QByteArray::fromStdString(digest) + '\n');
    return ExitSuccess;
}

int CliJobs::verify(const QByteArray &sourceDir, const QByteArray &checksumFile)
{
    if (LocalPath::kindOf(sourceDir) != LocalPath::Directory) {
        message(tr("Directory is not exists"));
        return ExitError;
    }
    if (checksumFile.isEmpty()) {
        message(tr("File name is not specified"));
        return ExitError;
    }
    // Learn of an unreadable checksums file before hashing the whole tree,
    // not after; the reader below still has the last word. Only a regular
    // file is opened: opening a FIFO would wait for a writer.
    const LocalPath::Kind sums = LocalPath::kindOf(checksumFile);
    if (sums == LocalPath::Missing) {
        message(tr("Checksums file \"%1\" does not exist.").arg(LocalPath::display(checksumFile)));
        return ExitError;
    }
    if (sums != LocalPath::RegularFile || !LocalPath::opensForReading(checksumFile)) {
        message(tr("Checksums file load error"));
        return ExitError;
    }

    // The checksums file is read while the tree is hashed, by an engine of
    // its own (the scan's hash object is not to be shared); the reading ends
    // inside this call, whatever the scan's outcome.
    // Where no thread can start, the reading is deferred to get(). The
    // reader is handed over by name: libstdc++ moves a temporary into the
    // thread that fails to start and defers the moved-from rest, whose path
    // is then empty.
    std::vector<HashRecord> stored;
    const auto read = [&stored, name = checksumFile.toStdString()] {
        HashTools reader(engineAlgorithm);
        return reader.loadDB(name, stored);
    };
    std::future<std::string> loaded = std::async(std::launch::async | std::launch::deferred, read);

    HashTools tools(engineAlgorithm);
    std::vector<HashRecord> current;
    const int scanned = scan(tools, sourceDir, checksumFile, current);
    if (scanned != ExitSuccess)
        return scanned;

    // The rest only reads: a signal from now on ends the process at once.
    InterruptFlag::setPhase(InterruptFlag::Reading);
    const std::string digest = loaded.get();
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
        report += reportLine(error->path, error->errorText());
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

int CliJobs::scan(HashTools &tools, const QByteArray &sourceDir, const QByteArray &checksumFile,
                  std::vector<HashRecord> &records)
{
    // Record paths are relative to the directory exactly as it was handed
    // to the engine: a relative SOURCE_DIR would leak into every path
    // ("data/a.txt") and tie the checksums file to the working directory of
    // the run. An absolute, cleaned path gives the same records as the
    // directory chosen in the desktop application's dialog.
    const QByteArray source = LocalPath::absolute(sourceDir);
    ConsoleReport report(source, progress);
    tools.setJobs(jobs);
    InterruptFlag::setPhase(InterruptFlag::Scanning);
    tools.calculateHashes(source.toStdString(), records, &report, checksumFile.toStdString());
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

int CliJobs::digest(const QString &algorithm, const QList<QByteArray> &files)
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
    for (const QByteArray &path : files) {
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

QByteArray CliJobs::escapedName(const QByteArray &name, NameForm form, bool &escaped)
{
    QByteArray text;
    text.reserve(name.size());
    escaped = false;
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        const bool special = c == '\\' || c == '\n' || c == '\r';
        const bool control = byte < 0x20 || byte == 0x7f;
        if (!special && !(form == NameForm::Report && control)) {
            text += c;
            continue;
        }
        escaped = true;
        text += '\\';
        switch (c) {
        case '\\':
            text += '\\';
            break;
        case '\n':
            text += 'n';
            break;
        case '\r':
            text += 'r';
            break;
        case '\t':
            text += 't';
            break;
        default:
            text += 'x';
            text += hexDigits[byte >> 4];
            text += hexDigits[byte & 0x0f];
        }
    }
    return text;
}

QByteArray CliJobs::digestLine(const std::string &digest, const QByteArray &path)
{
    bool escaped = false;
    const QByteArray name = escapedName(path, NameForm::Coreutils, escaped);
    QByteArray line;
    if (escaped)
        line += '\\';
    line += QByteArray::fromStdString(digest);
    line += "  ";
    line += name;
    line += '\n';
    return line;
}

QByteArray CliJobs::reportLine(const std::string &path, const QString &message)
{
    bool escaped = false;
    const QByteArray name = escapedName(QByteArray::fromStdString(path), NameForm::Report, escaped);
    QByteArray line;
    if (escaped)
        line += '\\';
    line += name;
    line += '\t';
    line += message.toLocal8Bit();
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
