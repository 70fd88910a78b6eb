#include "clicommand.h"

#include "exitcode.h"
#include "hashtools.h"
#include "jsonline.h"
#include "localpath.h"
#include "terminalname.h"

#include <QElapsedTimer>

#include <cstdio>
#include <cstring>

CliCommand::CliCommand(const CliSettings &settings)
    : CliSettings(settings)
{
}

bool CliCommand::namesArePlausible(const QByteArray &sourceDir, const QByteArray &checksumFile) const
{
    // An empty path is no directory: taken as the working directory, it would
    // guard whatever folder the command happened to run in.
    if (LocalPath::kindOf(sourceDir) != LocalPath::Directory) {
        message(tr("Directory is not exists"));
        return false;
    }
    if (checksumFile.isEmpty()) {
        message(tr("File name is not specified"));
        return false;
    }
    return true;
}

int CliCommand::checkReadable(const QByteArray &checksumFile) const
{
    const auto refuse = [this, &checksumFile](const QString &text) {
        messageNaming(text, checksumFile);
        return ExitError;
    };
    int error = 0;
    switch (ChecksumFile::inspect(checksumFile.toStdString(), error)) {
    case ChecksumFile::Verdict::Usable:
        break;
    case ChecksumFile::Verdict::CannotRead: {
        const QString reason = error != 0 ? QString::fromLocal8Bit(std::strerror(error))
                                          : tr("Not a regular file");
        return refuse(tr("Cannot read checksums file \"%1\": %2.").arg(QStringLiteral("%1"), reason));
    }
    case ChecksumFile::Verdict::NotChecksumsFile:
        return refuse(tr("\"%1\" is not a checksums file."));
    }
    return ExitSuccess;
}

void CliCommand::cannotWrite(const QByteArray &checksumFile, int error) const
{
    if (error == 0) {
        message(tr("Checksums file creation error"));
        return;
    }
    messageNaming(tr("Cannot write checksums file \"%1\": %2.")
                      .arg(QStringLiteral("%1"), QString::fromLocal8Bit(std::strerror(error))),
                  checksumFile);
}

QByteArray CliCommand::reportLine(const std::string &path, const QString &message)
{
    return TerminalName::reportLine(path, message);
}

void CliCommand::message(const QString &text)
{
    writeError(text.toLocal8Bit());
}

void CliCommand::messageNaming(const QString &format, const QByteArray &name) const
{
    // The name goes out as its bytes, escaped as in the report lines, so
    // that it can neither drive the terminal nor turn into other characters.
    writeError(TerminalName::withEscapedName(format, name));
}

void CliCommand::writeError(const QByteArray &line)
{
    const QByteArray bytes = line + '\n';
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stderr);
}

void CliCommand::info(const QString &text) const
{
    if (!quiet)
        message(text);
}

void CliCommand::output(const QByteArray &bytes)
{
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stdout);
}

void CliCommand::countChanging(JsonLine &counts, const HashTools &tools)
{
    // Only where there is one, as the fields of names that are not text.
    if (!tools.changingFiles().empty())
        counts.number("changed_while_read", qint64(tools.changingFiles().size()));
}

JsonLine CliCommand::summaryLine(const JsonLine &counts, const QByteArray &checksumFile,
                              const std::string &digest, const QElapsedTimer &clock,
                              const ChecksumFile::Writer *written)
{
    JsonLine line;
    line.object("summary", counts)
        .path("checksums_file", checksumFile)
        .text("digest", QByteArray::fromStdString(digest))
        .number("seconds", static_cast<double>(clock.nsecsElapsed()) / 1e9);
    // Only where it went wrong, as the base64 fields appear only where needed.
    if (written && !written->timeKept())
        line.boolean("time_kept", false);
    return line;
}
