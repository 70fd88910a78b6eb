#include "consolereport.h"

#include "interruptflag.h"
#include "terminalname.h"

#include <QFile>
#include <QFileInfo>

#include <cstdio>

#ifdef ORVALEN_POSIX
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

const qint64 redrawIntervalMs = 100;

int terminalWidth()
{
#ifdef ORVALEN_POSIX
    struct winsize size = {};
    if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
#endif
    return 80;
}

} // namespace

ConsoleReport::ConsoleReport(const QByteArray &sourceDir, bool showProgress)
    : sourcePrefix(sourceDir), showProgress(showProgress)
{
    if (!sourcePrefix.endsWith('/'))
        sourcePrefix.append('/');
}

ConsoleReport::~ConsoleReport()
{
    clearLine();
}

void ConsoleReport::reportStart(int fileCount)
{
    total = fileCount;
    started = 0;
    bytes = 0;
    clock.start();
    lastDraw = 0;
    if (showProgress)
        draw();
}

void ConsoleReport::reportFileCount(int fileCount)
{
    total = fileCount;
}

void ConsoleReport::reportFinish()
{
    finished = true;
    clearLine();
}

void ConsoleReport::reportFile(const QString &relativePath)
{
    reportFileBytes(QFile::encodeName(relativePath).toStdString());
}

void ConsoleReport::reportFileBytes(const std::string &relativePath)
{
    ++started;
    if (!showProgress)
        return;
    // The size of the file about to be hashed counts now, so the rate runs
    // slightly ahead on a big file; good enough for a progress display.
    currentFile = QByteArray::fromStdString(relativePath);
    bytes += fileSize(currentFile);
    const qint64 now = clock.elapsed();
    if (now - lastDraw >= redrawIntervalMs) {
        lastDraw = now;
        draw();
    }
}

void ConsoleReport::reportError(const QString &message)
{
    failed = true;
    error = message;
    errorFormat.clear();
    errorPath.clear();
    clearLine();
}

void ConsoleReport::reportPathError(const QString &message, const QString &format, const std::string &path)
{
    reportError(message);
    errorFormat = format;
    errorPath = QByteArray::fromStdString(path);
}

bool ConsoleReport::isCanceled()
{
    if (!canceled && InterruptFlag::raised()) {
        canceled = true;
        clearLine();
    }
    return canceled;
}

bool ConsoleReport::isFinished() const
{
    return finished;
}

bool ConsoleReport::isFailed() const
{
    return failed;
}

bool ConsoleReport::wasCanceled() const
{
    return canceled;
}

QString ConsoleReport::errorMessage() const
{
    return error;
}

QByteArray ConsoleReport::errorText() const
{
    if (errorFormat.isEmpty())
        return error.toLocal8Bit();
    return TerminalName::withEscapedName(errorFormat, errorPath);
}

void ConsoleReport::draw()
{
    const int done = started > 0 ? started - 1 : 0;
    const double seconds = clock.elapsed() / 1000.0;
    const double rate = seconds > 0.0 ? bytes / 1e6 / seconds : 0.0;
    // While the tree is still being listed its count is not known.
    const QString head = total >= 0 ? tr("%1/%2 files  %3 MB/s  ").arg(done).arg(total).arg(rate, 0, 'f', 1)
                                    : tr("%1 files  %2 MB/s  ").arg(done).arg(rate, 0, 'f', 1);
    // One column stays free so that the cursor never wraps to a new line.
    const int room = terminalWidth() - 1 - head.size();
    const QByteArray line = "\r" + head.toLocal8Bit() + TerminalName::shownName(currentFile, room) + "\033[K";
    std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), stderr);
    std::fflush(stderr);
    lineShown = true;
}

void ConsoleReport::clearLine()
{
    if (!lineShown)
        return;
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
    lineShown = false;
}

std::int64_t ConsoleReport::fileSize(const QByteArray &relativePath) const
{
    // A file that cannot be looked at by its path (one beyond the longest
    // path the system takes) counts as empty: only the rate shown suffers.
    const QByteArray path = sourcePrefix + relativePath;
#ifdef ORVALEN_POSIX
    struct stat info;
    if (::stat(path.constData(), &info) == 0)
        return info.st_size;
    return 0;
#else
    return QFileInfo(QFile::decodeName(path)).size();
#endif
}
