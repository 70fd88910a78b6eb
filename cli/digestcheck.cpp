#include "digestcheck.h"

#include "clicommand.h"
#include "exitcode.h"
#include "hashfactory.h"
#include "hashwrapper.h"
#include "hlexception.h"
#include "interruptflag.h"
#include "scanpipeline.h"
#include "terminalname.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <functional>
#include <memory>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct Algorithm
{
    const char *name;
    const char *tag;
    int digits;
};

const Algorithm algorithms[] = {
    {"md5", "MD5", 32},
    {"sha1", "SHA1", 40},
    {"sha256", "SHA256", 64},
    {"sha384", "SHA384", 96},
    {"sha512", "SHA512", 128},
};

bool isHex(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

std::string lowercase(const char *digits, int length)
{
    std::string text(digits, static_cast<std::size_t>(length));
    for (char &c : text)
        c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    return text;
}

// The path of a line that started with a backslash; false for an escape
// the writer never makes.
bool unescape(const QByteArray &escaped, QByteArray &path)
{
    path.clear();
    for (int i = 0; i < escaped.size(); ++i) {
        if (escaped.at(i) != '\\') {
            path += escaped.at(i);
            continue;
        }
        if (++i == escaped.size())
            return false;
        switch (escaped.at(i)) {
        case '\\':
            path += '\\';
            break;
        case 'n':
            path += '\n';
            break;
        case 'r':
            path += '\r';
            break;
        default:
            return false;
        }
    }
    return true;
}

// The whole content of a list, "-" being standard input; false with errno.
bool readList(const QByteArray &name, QByteArray &content)
{
    const bool standardInput = name == "-";
    const int fd = standardInput ? STDIN_FILENO : ::open(name.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    char buffer[65536];
    ssize_t got = 0;
    while ((got = ::read(fd, buffer, sizeof buffer)) != 0) {
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            break;
        content.append(buffer, static_cast<int>(got));
    }
    const int error = errno;
    if (!standardInput)
        ::close(fd);
    errno = error;
    return got == 0;
}

} // namespace

DigestCheck::DigestCheck(const std::string &algorithm, bool quiet, int jobs)
    : forced(algorithm), quiet(quiet), jobs(jobs)
{
}

DigestCheck::LineKind DigestCheck::parseLine(const QByteArray &line, Entry &entry)
{
    int at = 0;
    while (at < line.size() && (line.at(at) == ' ' || line.at(at) == '\t'))
        ++at;
    if (at == line.size() || line.at(at) == '#')
        return LineKind::Ignored;
    const bool escaped = line.at(at) == '\\';
    if (escaped)
        ++at;

    const auto allowed = [this](const Algorithm &algorithm) {
        return forced.empty() || forced == algorithm.name;
    };
    const auto takePath = [&](const QByteArray &written) {
        if (escaped) {
            if (!unescape(written, entry.path))
                return LineKind::Malformed;
        } else {
            entry.path = written;
        }
        // A zero byte would end the name the system is handed early.
        return entry.path.isEmpty() || entry.path.contains('\0') ? LineKind::Malformed : LineKind::Entry;
    };

    // BSD: "TAG (path) = digest"; the tag and the parenthesis may touch,
    // and so may the parenthesis, the equals sign and the digest.
    for (const Algorithm &algorithm : algorithms) {
        const int tagLength = static_cast<int>(std::strlen(algorithm.tag));
        if (line.mid(at, tagLength) != algorithm.tag)
            continue;
        int open = at + tagLength;
        if (open < line.size() && line.at(open) == ' ')
            ++open;
        if (open >= line.size() || line.at(open) != '(')
            continue;
        if (!allowed(algorithm))
            return LineKind::Malformed;
        int digits = line.size();
        while (digits > open && isHex(line.at(digits - 1)))
            --digits;
        if (line.size() - digits != algorithm.digits)
            return LineKind::Malformed;
        int close = digits;
        while (close > open && line.at(close - 1) == ' ')
            --close;
        if (close == open || line.at(close - 1) != '=')
            return LineKind::Malformed;
        --close;
        if (close > open && line.at(close - 1) == ' ')
            --close;
        if (close == open + 1 || line.at(close - 1) != ')')
            return LineKind::Malformed;
        entry.algorithm = algorithm.name;
        entry.digest = lowercase(line.constData() + digits, algorithm.digits);
        return takePath(line.mid(open + 1, close - 1 - (open + 1)));
    }

    // GNU: the digest, one blank, the mark of the mode (' ' or '*') where
    // the lines have one, then the path to the end of the line.
    int end = at;
    while (end < line.size() && isHex(line.at(end)))
        ++end;
    const Algorithm *found = nullptr;
    for (const Algorithm &algorithm : algorithms) {
        if (algorithm.digits == end - at && allowed(algorithm))
            found = &algorithm;
    }
    if (!found || end == line.size() || (line.at(end) != ' ' && line.at(end) != '\t'))
        return LineKind::Malformed;
    int name = end + 1;
    const bool marked = line.size() - name > 1 && (line.at(name) == ' ' || line.at(name) == '*');
    if (marks == Marks::Unknown)
        marks = marked ? Marks::With : Marks::Without;
    if (marks == Marks::With) {
        if (!marked)
            return LineKind::Malformed;
        ++name;
    }
    entry.algorithm = found->name;
    entry.digest = lowercase(line.constData() + at, found->digits);
    return takePath(line.mid(name));
}

QByteArray DigestCheck::shownName(const QByteArray &path)
{
    if (!path.contains('\n'))
        return path;
    bool escaped = false;
    return '\\' + TerminalName::escapedName(path, TerminalName::Form::Coreutils, escaped);
}

int DigestCheck::run(const QList<QByteArray> &lists)
{
    // Nothing is written but the report, so a signal ends the process at
    // once, even in the middle of a big file.
    InterruptFlag::setPhase(InterruptFlag::Reading);
    int status = ExitSuccess;
    for (const QByteArray &list : lists) {
        int listStatus = ExitError;
        try {
            listStatus = checkList(list);
        } catch (const std::exception &failure) {
            // The machine refused memory, threads or descriptors.
            std::fflush(stdout);
            CliCommand::writeError(QByteArray(failure.what()));
        }
        if (listStatus == ExitError || status == ExitError)
            status = ExitError;
        else if (listStatus != ExitSuccess)
            status = listStatus;
    }
    return status;
}

int DigestCheck::checkList(const QByteArray &listName)
{
    const QByteArray shownList = listName == "-" ? tr("standard input").toLocal8Bit() : listName;
    QByteArray content;
    if (!readList(listName, content)) {
        const QString reason = QString::fromLocal8Bit(std::strerror(errno));
        std::fflush(stdout);
        CliCommand::writeError(TerminalName::withEscapedName(QStringLiteral("%1: ") + reason, shownList));
        return ExitError;
    }

    std::vector<Entry> entries;
    std::size_t malformed = 0;
    int from = 0;
    while (from < content.size()) {
        int to = content.indexOf('\n', from);
        if (to < 0)
            to = content.size();
        // A list written on Windows ends its lines with CR LF.
        int last = to;
        if (last > from && content.at(last - 1) == '\r')
            --last;
        Entry entry;
        switch (parseLine(content.mid(from, last - from), entry)) {
        case LineKind::Entry:
            entries.push_back(std::move(entry));
            break;
        case LineKind::Malformed:
            ++malformed;
            break;
        case LineKind::Ignored:
            break;
        }
        from = to + 1;
    }
    content.clear();
    if (entries.empty()) {
        std::fflush(stdout);
        CliCommand::writeError(
            TerminalName::withEscapedName(tr("%1: no properly formatted checksum lines found"), shownList));
        return ExitError;
    }

    states.assign(entries.size(), Pending);
    reasons.assign(entries.size(), QString());
    written = 0;
    // One pass for each algorithm, in the order the list first uses them;
    // almost every list uses one, and its lines are then written as they
    // are settled.
    std::vector<std::string> used;
    for (const Entry &entry : entries) {
        if (std::find(used.begin(), used.end(), entry.algorithm) == used.end())
            used.push_back(entry.algorithm);
    }
    for (const std::string &algorithm : used) {
        readFiles(entries, algorithm);
        writeSettled(entries);
    }

    std::size_t failed = 0;
    std::size_t unreadable = 0;
    for (const State state : states) {
        failed += state == Failed ? 1 : 0;
        unreadable += state == Unreadable ? 1 : 0;
    }
    std::fflush(stdout);
    if (malformed == 1)
        CliCommand::writeError(tr("WARNING: 1 line is improperly formatted").toLocal8Bit());
    else if (malformed > 1)
        CliCommand::writeError(tr("WARNING: %1 lines are improperly formatted").arg(malformed).toLocal8Bit());
    if (unreadable == 1)
        CliCommand::writeError(tr("WARNING: 1 listed file could not be read").toLocal8Bit());
    else if (unreadable > 1)
        CliCommand::writeError(tr("WARNING: %1 listed files could not be read").arg(unreadable).toLocal8Bit());
    if (failed == 1)
        CliCommand::writeError(tr("WARNING: 1 computed checksum did NOT match").toLocal8Bit());
    else if (failed > 1)
        CliCommand::writeError(tr("WARNING: %1 computed checksums did NOT match").arg(failed).toLocal8Bit());
    return failed + unreadable == 0 ? ExitSuccess : ExitDiscrepancies;
}

void DigestCheck::readFiles(const std::vector<Entry> &entries, const std::string &algorithm)
{
    const auto settleDigest = [&](std::size_t index, const std::string &digest) {
        settle(index, digest == entries[index].digest ? Ok : Failed);
    };
    std::unique_ptr<ScanPipeline> pipeline;
    if (jobs != 1) {
        try {
            // The paths are opened as they stand, relative to the working
            // directory: no prefix and no directory to open them below.
            pipeline = std::make_unique<ScanPipeline>(
                std::string(), [&algorithm] { return hashfactory().makeWrapper(algorithm); },
                ScanPipeline::settingsFor(".", jobs));
        } catch (const std::system_error &) {
            // Not one worker could start: the files are read on this thread.
        }
    }
    if (!pipeline) {
        const std::unique_ptr<hashwrapper> hasher(hashfactory().makeWrapper(algorithm));
        for (std::size_t i = 0; i < entries.size(); ++i) {
            if (entries[i].algorithm != algorithm)
                continue;
            try {
                settleDigest(i, hasher->digestOfFile(entries[i].path.toStdString()));
            } catch (const hlException &e) {
                settle(i, Unreadable, whyUnreadable(entries[i].path, e.errorNumber));
            }
            writeSettled(entries);
        }
        return;
    }

    std::vector<std::size_t> order;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (entries[i].algorithm == algorithm) {
            order.push_back(i);
            pipeline->add(entries[i].path.constData(), static_cast<std::size_t>(entries[i].path.size()));
        }
    }
    pipeline->publish();
    pipeline->finish();
    const std::function<bool()> stillWanted = [] { return true; };
    ScanPipeline::Result result;
    for (const std::size_t index : order) {
        if (!pipeline->take(result, stillWanted))
            break;
        if (result.failure)
            std::rethrow_exception(result.failure);
        if (result.shortage != 0)
            settle(index, Unreadable, QString::fromLocal8Bit(std::strerror(result.shortage)));
        else if (result.error != 0)
            settle(index, Unreadable, whyUnreadable(entries[index].path, result.error));
        else
            settleDigest(index, result.digest);
        writeSettled(entries);
    }
}

void DigestCheck::settle(std::size_t index, State state, const QString &reason)
{
    states[index] = state;
    reasons[index] = reason;
}

void DigestCheck::writeSettled(const std::vector<Entry> &entries)
{
    QByteArray lines;
    for (; written < states.size() && states[written] != Pending; ++written) {
        const QByteArray name = shownName(entries[written].path);
        switch (states[written]) {
        case Ok:
            if (!quiet)
                lines += name + ": OK\n";
            break;
        case Failed:
            lines += name + ": FAILED\n";
            break;
        case Unreadable:
            // The reason comes first, as its line on a shared terminal.
            CliCommand::output(lines);
            lines.clear();
            std::fflush(stdout);
            CliCommand::writeError(
                TerminalName::withEscapedName(QStringLiteral("%1: ") + reasons[written], entries[written].path));
            lines += name + ": FAILED open or read\n";
            break;
        case Pending:
            break;
        }
    }
    CliCommand::output(lines);
}

QString DigestCheck::whyUnreadable(const QByteArray &path, int error)
{
    if (error != 0 && error != EINVAL)
        return QString::fromLocal8Bit(std::strerror(error));
    // Unknown, or a file that is no regular file: opening it again here
    // tells why, and costs nothing beside the files that can be read.
    const int fd = ::open(path.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return QString::fromLocal8Bit(std::strerror(errno));
    error = EIO;
    struct stat status;
    if (::fstat(fd, &status) != 0) {
        error = errno;
    } else if (S_ISDIR(status.st_mode)) {
        error = EISDIR;
    } else if (!S_ISREG(status.st_mode)) {
        ::close(fd);
        return tr("Not a regular file");
    } else {
        char buffer[65536];
        ssize_t got = 0;
        while ((got = ::read(fd, buffer, sizeof buffer)) > 0 || (got < 0 && errno == EINTR)) {
        }
        if (got < 0)
            error = errno;
    }
    ::close(fd);
    return QString::fromLocal8Bit(std::strerror(error));
}
