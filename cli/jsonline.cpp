#include "jsonline.h"

#include <cmath>

namespace {

const char hexDigits[] = "0123456789abcdef";

// The length of the well-formed UTF-8 sequence at bytes[at], 0 where there
// is none: no overlong forms, no surrogates, nothing above U+10FFFF.
int sequenceAt(const QByteArray &bytes, int at)
{
    const auto byte = [&bytes](int i) { return static_cast<unsigned char>(bytes.at(i)); };
    const unsigned char lead = byte(at);
    if (lead < 0x80)
        return 1;
    int length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xbf;
    if (lead >= 0xc2 && lead <= 0xdf) {
        length = 2;
    } else if (lead >= 0xe0 && lead <= 0xef) {
        length = 3;
        if (lead == 0xe0)
            low = 0xa0;
        else if (lead == 0xed)
            high = 0x9f;
    } else if (lead >= 0xf0 && lead <= 0xf4) {
        length = 4;
        if (lead == 0xf0)
            low = 0x90;
        else if (lead == 0xf4)
            high = 0x8f;
    } else {
        return 0;
    }
    if (at + length > bytes.size())
        return 0;
    // Only the second byte has a narrower range.
    if (byte(at + 1) < low || byte(at + 1) > high)
        return 0;
    for (int i = 2; i < length; ++i) {
        if (byte(at + i) < 0x80 || byte(at + i) > 0xbf)
            return 0;
    }
    return length;
}

void appendEscape(QByteArray &out, unsigned code)
{
    out += "\\u00";
    out += hexDigits[(code >> 4) & 0x0f];
    out += hexDigits[code & 0x0f];
}

} // namespace

bool JsonLine::isUtf8(const QByteArray &bytes)
{
    for (int at = 0; at < bytes.size();) {
        const int length = sequenceAt(bytes, at);
        if (length == 0)
            return false;
        at += length;
    }
    return true;
}

QByteArray JsonLine::quoted(const QByteArray &bytes)
{
    QByteArray out;
    out.reserve(bytes.size() + 2);
    out += '"';
    for (int at = 0; at < bytes.size();) {
        const int length = sequenceAt(bytes, at);
        if (length == 0) {
            out += "\xef\xbf\xbd";
            ++at;
            continue;
        }
        const auto lead = static_cast<unsigned char>(bytes.at(at));
        if (length == 2 && lead == 0xc2 && static_cast<unsigned char>(bytes.at(at + 1)) < 0xa0) {
            appendEscape(out, static_cast<unsigned char>(bytes.at(at + 1)));
        } else if (length > 1) {
            out += bytes.mid(at, length);
        } else {
            switch (lead) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\b':
                out += "\\b";
                break;
            case '\f':
                out += "\\f";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (lead < 0x20 || lead == 0x7f)
                    appendEscape(out, lead);
                else
                    out += static_cast<char>(lead);
            }
        }
        at += length;
    }
    out += '"';
    return out;
}

void JsonLine::key(const char *name)
{
    if (!members.isEmpty())
        members += ',';
    members += quoted(QByteArray(name));
    members += ':';
}

JsonLine &JsonLine::text(const char *name, const QByteArray &bytes)
{
    key(name);
    members += quoted(bytes);
    return *this;
}

JsonLine &JsonLine::path(const char *name, const QByteArray &bytes)
{
    text(name, bytes);
    if (!isUtf8(bytes))
        text((QByteArray(name) + "_base64").constData(), bytes.toBase64());
    return *this;
}

JsonLine &JsonLine::path(const char *name, const std::string &bytes)
{
    return path(name, QByteArray::fromStdString(bytes));
}

JsonLine &JsonLine::number(const char *name, qint64 value)
{
    key(name);
    members += QByteArray::number(value);
    return *this;
}

JsonLine &JsonLine::boolean(const char *name, bool value)
{
    key(name);
    members += value ? "true" : "false";
    return *this;
}

JsonLine &JsonLine::number(const char *name, double value)
{
    key(name);
    // JSON has no infinity or NaN.
    members += std::isfinite(value) ? QByteArray::number(value, 'f', 3) : QByteArray("0");
    return *this;
}

JsonLine &JsonLine::object(const char *name, const JsonLine &inner)
{
    key(name);
    members += inner.toJson();
    return *this;
}

QByteArray JsonLine::toJson() const
{
    return '{' + members + '}';
}

QByteArray JsonLine::line() const
{
    return toJson() + '\n';
}
