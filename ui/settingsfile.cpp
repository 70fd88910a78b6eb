#include "settingsfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSettings>
#include <QTemporaryFile>

#include <algorithm>
#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char organization[] = "Varnock";
const char application[] = "Orvalen";
// Two short paths take a few hundred bytes; a larger file is no settings
// file of this program.
const qint64 maxFileSize = 1 << 20;

// Only a regular file is read. Opened without waiting, so that a FIFO or a
// device in the file's place is turned down instead of blocking the window.
bool readRegularFile(const QString &path, QByteArray &text)
{
    text.clear();
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return false;
    struct stat status;
    bool ok = ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && status.st_size <= maxFileSize;
    char buffer[16384];
    while (ok) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            ok = got == 0;
            break;
        }
        text.append(buffer, int(got));
        ok = text.size() <= maxFileSize;
    }
    ::close(fd);
    return ok;
}

// One line of an INI file as QSettings reads it: a line ends at CR or LF
// unless a backslash escapes the line end.
struct IniLine
{
    enum Kind { Other, Section, Entry } kind = Other;
    QByteArray raw;      // the line without its end
    QByteArray name;     // section name, or the key
    QByteArray value;    // the text after '='
};

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

QByteArray trimmedBlanks(const QByteArray &text)
{
    int from = 0;
    int to = text.size();
    while (from < to && isBlank(text.at(from)))
        ++from;
    while (to > from && isBlank(text.at(to - 1)))
        --to;
    return text.mid(from, to - from);
}

std::vector<IniLine> splitLines(const QByteArray &text)
{
    std::vector<IniLine> lines;
    int i = 0;
    const int size = text.size();
    while (i < size) {
        IniLine line;
        while (i < size && text.at(i) != '\n' && text.at(i) != '\r') {
            if (text.at(i) == '\\' && i + 1 < size) {
                line.raw += text.at(i++);
                // An escaped line end, CR LF or LF CR included, joins the next line.
                const char next = text.at(i);
                line.raw += next;
                ++i;
                if ((next == '\n' || next == '\r') && i < size
                    && (text.at(i) == '\n' || text.at(i) == '\r') && text.at(i) != next)
                    line.raw += text.at(i++);
                continue;
            }
            line.raw += text.at(i++);
        }
        ++i;
        const QByteArray trimmed = trimmedBlanks(line.raw);
        if (trimmed.startsWith('[')) {
            const int end = trimmed.lastIndexOf(']');
            line.kind = IniLine::Section;
            line.name = trimmedBlanks(trimmed.mid(1, end < 0 ? -1 : end - 1));
        } else if (!trimmed.isEmpty() && trimmed.at(0) != ';' && trimmed.at(0) != '#') {
            const int equals = trimmed.indexOf('=');
            if (equals > 0) {
                line.kind = IniLine::Entry;
                line.name = trimmedBlanks(trimmed.left(equals));
                line.value = trimmed.mid(equals + 1);
            }
        }
        if (line.kind != IniLine::Other || !trimmed.isEmpty())
            lines.push_back(line);
    }
    return lines;
}

// Keys before any section, and in [General], have no section in QSettings.
bool isGeneral(const QByteArray &section)
{
    return section.isEmpty() || section.toLower() == "general";
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

QString iniFolder(QSettings::Scope scope)
{
    // The folders are QSettings' to know (QSettings::setPath may have moved
    // them). Asked for names no file has, it opens nothing there.
    const QSettings probe(QSettings::IniFormat, scope, QStringLiteral("orvalen-folder-probe"),
                          QStringLiteral("probe"));
    return QFileInfo(QFileInfo(probe.fileName()).absolutePath()).absolutePath();
}

// As QSettings judges it: an existing file it could open for writing, or a
// new one it could create in its folder, which is made if missing.
bool canBeWritten(const QString &path)
{
    const QFileInfo info(path);
    if (info.exists())
        return ::access(QFile::encodeName(path).constData(), W_OK) == 0;
    if (!QDir().mkpath(info.absolutePath()))
        return false;
    QTemporaryFile probe(path);
    return probe.open();
}

} // namespace

SettingsFile::SettingsFile(const QString &writeTo, const QStringList &readFrom, QObject *parent)
    : QObject(parent)
    , writeTo(writeTo)
    , readFrom(readFrom)
{
}

SettingsFile *SettingsFile::openApplicationSettings(QObject *parent)
{
    const QString appFile = QStringLiteral("/%1/%2.ini").arg(QLatin1String(organization), QLatin1String(application));
    const QString organizationFile = QStringLiteral("/%1.ini").arg(QLatin1String(organization));
    const QString system = iniFolder(QSettings::SystemScope);
    const QStringList systemFiles = {system + appFile, system + organizationFile};
    // An administrator may preset the paths system-wide; only root, or a
    // group the administrator chose, can write them back there.
    if (canBeWritten(systemFiles.first()))
        return new SettingsFile(systemFiles.first(), systemFiles, parent);
    const QString user = iniFolder(QSettings::UserScope);
    return new SettingsFile(user + appFile, QStringList{user + appFile, user + organizationFile} + systemFiles,
                            parent);
}

QString SettingsFile::fileName() const
{
    return writeTo;
}

QString SettingsFile::value(const QString &key) const
{
    const QByteArray wanted = key.toUtf8();
    for (const QString &path : readFrom) {
        QByteArray text;
        if (!readRegularFile(path, text))
            continue;
        QByteArray section;
        bool found = false;
        QByteArray value;
        for (const IniLine &line : splitLines(text)) {
            if (line.kind == IniLine::Section)
                section = line.name;
            else if (line.kind == IniLine::Entry && isGeneral(section) && line.name == wanted) {
                // The last of several wins, as in QSettings.
                found = true;
                value = line.value;
            }
        }
        if (found)
            return fromIni(value);
    }
    return QString();
}

bool SettingsFile::setValues(const Values &values)
{
    QByteArray old;
    readRegularFile(writeTo, old);

    // The keys without a section first, sorted, then every other section as
    // it was; comments go, as they do when QSettings writes the file.
    std::vector<std::pair<QByteArray, QByteArray>> general;
    QByteArray otherSections;
    QByteArray section;
    for (const IniLine &line : splitLines(old)) {
        if (line.kind == IniLine::Section) {
            section = line.name;
            if (!isGeneral(section))
                otherSections += '\n' + line.raw + '\n';
        } else if (line.kind == IniLine::Entry) {
            if (!isGeneral(section)) {
                otherSections += line.raw + '\n';
                continue;
            }
            const bool replaced = std::any_of(values.begin(), values.end(), [&line](const auto &kept) {
                return kept.first.toUtf8() == line.name;
            });
            if (!replaced)
                general.emplace_back(line.name, line.raw);
        }
    }
    for (const auto &kept : values)
        general.emplace_back(kept.first.toUtf8(), kept.first.toUtf8() + '=' + toIni(kept.second));
    std::stable_sort(general.begin(), general.end(),
                     [](const auto &a, const auto &b) { return a.first < b.first; });

    QByteArray text = "[General]\n";
    for (const auto &entry : general)
        text += entry.second + '\n';
    text += otherSections;

    if (!QDir().mkpath(QFileInfo(writeTo).absolutePath()))
        return false;
    QSaveFile file(writeTo);
    return file.open(QIODevice::WriteOnly) && file.write(text) == text.size() && file.commit();
}

QByteArray SettingsFile::toIni(const QString &value)
{
    // A string that starts with '@' would be taken for an encoded value.
    const QString text = value.startsWith(QLatin1Char('@')) ? QLatin1Char('@') + value : value;
    QByteArray result;
    bool needsQuotes = false;
    // After \0 or \x.., a hexadecimal digit would be read as part of the
    // escape; it is escaped itself.
    bool escapeNextIfDigit = false;
    int plainFrom = 0;
    const auto flushPlain = [&](int to) {
        result += text.mid(plainFrom, to - plainFrom).toUtf8();
    };
    for (int i = 0; i < text.size(); ++i) {
        const ushort c = text.at(i).unicode();
        if (c == ';' || c == ',' || c == '=')
            needsQuotes = true;
        QByteArray escape;
        if (escapeNextIfDigit && c < 0x80 && hexValue(char(c)) >= 0) {
            escape = "\\x" + QByteArray::number(c, 16);
        } else {
            escapeNextIfDigit = false;
            switch (c) {
            case 0: escape = "\\0"; escapeNextIfDigit = true; break;
            case '\a': escape = "\\a"; break;
            case '\b': escape = "\\b"; break;
            case '\f': escape = "\\f"; break;
            case '\n': escape = "\\n"; break;
            case '\r': escape = "\\r"; break;
            case '\t': escape = "\\t"; break;
            case '\v': escape = "\\v"; break;
            case '"': escape = "\\\""; break;
            case '\\': escape = "\\\\"; break;
            default:
                if (c <= 0x1F) {
                    escape = "\\x" + QByteArray::number(c, 16);
                    escapeNextIfDigit = true;
                }
            }
        }
        if (escape.isEmpty())
            continue;
        flushPlain(i);
        result += escape;
        plainFrom = i + 1;
    }
    flushPlain(text.size());
    if (needsQuotes || result.startsWith(' ') || result.endsWith(' '))
        result = '"' + result + '"';
    return result;
}

QString SettingsFile::fromIni(const QByteArray &text)
{
    static const char escapes[][2] = {{'a', '\a'}, {'b', '\b'}, {'f', '\f'}, {'n', '\n'},
                                      {'r', '\r'}, {'t', '\t'}, {'v', '\v'}, {'"', '"'},
                                      {'?', '?'},  {'\'', '\''}, {'\\', '\\'}};
    QString result;
    QByteArray plain;
    bool inQuotes = false;
    bool quoted = false;
    bool isList = false;
    // Blanks at the end are dropped, but not those an escape wrote.
    int chopLimit = 0;
    const auto flushPlain = [&]() {
        result += QString::fromUtf8(plain);
        plain.clear();
    };
    int i = 0;
    const int size = text.size();
    const auto skipBlanks = [&]() {
        while (i < size && isBlank(text.at(i)))
            ++i;
    };
    skipBlanks();
    while (i < size) {
        const char c = text.at(i);
        if (c == '\\') {
            flushPlain();
            if (++i >= size)
                break;
            const char e = text.at(i++);
            const auto known = std::find_if(std::begin(escapes), std::end(escapes),
                                            [e](const char *pair) { return pair[0] == e; });
            if (known != std::end(escapes)) {
                result += QLatin1Char((*known)[1]);
            } else if ((e == 'x' && i < size && hexValue(text.at(i)) >= 0) || (e >= '0' && e <= '7')) {
                const int base = e == 'x' ? 16 : 8;
                uint code = e == 'x' ? 0 : uint(e - '0');
                while (i < size) {
                    const int digit = hexValue(text.at(i));
                    if (digit < 0 || digit >= base)
                        break;
                    code = code * base + digit;
                    ++i;
                }
                result += QChar(ushort(code));
            } else if (e == '\n' || e == '\r') {
                if (i < size && (text.at(i) == '\n' || text.at(i) == '\r') && text.at(i) != e)
                    ++i;
            }
            chopLimit = result.size();
        } else if (c == '"') {
            flushPlain();
            ++i;
            quoted = true;
            inQuotes = !inQuotes;
            if (!inQuotes)
                skipBlanks();
        } else if (c == ',' && !inQuotes) {
            // QSettings reads an unquoted comma as a list, which is no path.
            isList = true;
            break;
        } else {
            plain += c;
            ++i;
        }
    }
    flushPlain();
    if (isList)
        return QString();
    if (!quoted) {
        int end = result.size();
        while (end > chopLimit && (result.at(end - 1) == QLatin1Char(' ') || result.at(end - 1) == QLatin1Char('\t')))
            --end;
        result.truncate(end);
    }

    // What QSettings would turn into something other than this very text.
    if (!result.startsWith(QLatin1Char('@')))
        return result;
    if (result.startsWith(QLatin1String("@@")))
        return result.mid(1);
    if (result.endsWith(QLatin1Char(')'))) {
        if (result.startsWith(QLatin1String("@String(")))
            return result.mid(8, result.size() - 9);
        if (result.startsWith(QLatin1String("@ByteArray(")))
            return QString::fromUtf8(result.mid(11, result.size() - 12).toLatin1());
        // @Variant, @DateTime, @Rect, @Size, @Point, @Invalid: encoded
        // values, never read.
        return QString();
    }
    return result;
}
