#include "terminalname.h"

namespace {

const char hexDigits[] = "0123456789abcdef";

// format with its %1 replaced by name, the rest in the local encoding.
QByteArray substituted(const QString &format, const QByteArray &name)
{
    const int at = format.indexOf(QLatin1String("%1"));
    if (at < 0)
        return format.toLocal8Bit();
    return format.left(at).toLocal8Bit() + name + format.mid(at + 2).toLocal8Bit();
}

// "name<TAB>text", a backslash in front when a name in it was escaped.
QByteArray tabbedLine(const QByteArray &name, bool escaped, const QByteArray &text)
{
    QByteArray line;
    if (escaped)
        line += '\\';
    line += name;
    line += '\t';
    line += text;
    line += '\n';
    return line;
}

} // namespace

QByteArray TerminalName::escapedName(const QByteArray &name, Form form, bool &escaped)
{
    QByteArray text;
    text.reserve(name.size());
    escaped = false;
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        const bool special = c == '\\' || c == '\n' || c == '\r';
        const bool control = byte < 0x20 || byte == 0x7f;
        if (!special && !(form == Form::Report && control)) {
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

QByteArray TerminalName::reportLine(const std::string &path, const QString &message)
{
    bool escaped = false;
    const QByteArray name = escapedName(QByteArray::fromStdString(path), Form::Report, escaped);
    return tabbedLine(name, escaped, message.toLocal8Bit());
}

QByteArray TerminalName::moveLine(const std::string &path, const std::string &from, const QString &message)
{
    bool escaped = false;
    bool fromEscaped = false;
    const QByteArray name = escapedName(QByteArray::fromStdString(path), Form::Report, escaped);
    const QByteArray old = escapedName(QByteArray::fromStdString(from), Form::Report, fromEscaped);
    return tabbedLine(name, escaped || fromEscaped, substituted(message, old));
}

QByteArray TerminalName::withEscapedName(const QString &format, const QByteArray &path)
{
    bool escaped = false;
    return substituted(format, escapedName(path, Form::Report, escaped));
}

QByteArray TerminalName::shownName(const QByteArray &path, int room)
{
    bool escaped = false;
    const QByteArray name = escapedName(path, Form::Report, escaped);
    // A character is one column; UTF-8 continuation bytes add none.
    const auto isContinuation = [](char c) { return (static_cast<unsigned char>(c) & 0xc0) == 0x80; };
    int columns = 0;
    for (const char c : name)
        columns += isContinuation(c) ? 0 : 1;
    if (columns <= room)
        return name;
    if (room <= 3)
        return QByteArray();
    int start = name.size();
    for (int kept = 0; start > 0 && kept < room - 3;) {
        --start;
        if (!isContinuation(name.at(start)))
            ++kept;
    }
    return "..." + name.mid(start);
}

QByteArray TerminalName::digestLine(const std::string &digest, const QByteArray &path)
{
    bool escaped = false;
    const QByteArray name = escapedName(path, Form::Coreutils, escaped);
    QByteArray line;
    if (escaped)
        line += '\\';
    line += QByteArray::fromStdString(digest);
    line += "  ";
    line += name;
    line += '\n';
    return line;
}
