#include "terminalname.h"

namespace {

const char hexDigits[] = "0123456789abcdef";

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
    QByteArray line;
    if (escaped)
        line += '\\';
    line += name;
    line += '\t';
    line += message.toLocal8Bit();
    line += '\n';
    return line;
}
