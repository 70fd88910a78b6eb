#pragma once

#include <QByteArray>

#include <string>

// One line of a JSON Lines report: an object built field by field, written
// compactly and ended by a line feed. Texts are the bytes they were given;
// whatever is not valid UTF-8 becomes U+FFFD, and every control character,
// C1 included, becomes an escape, so that a line is valid JSON whatever a
// file name holds and cannot drive the terminal it is shown on.
class JsonLine
{
public:
    JsonLine &text(const char *name, const QByteArray &bytes);
    // A path as the bytes the file system takes: as text under name, and
    // where those bytes are not valid UTF-8 also exactly, as base64, under
    // name_base64. Only then: a reader that finds no such field knows the
    // text is the name.
    JsonLine &path(const char *name, const QByteArray &bytes);
    JsonLine &path(const char *name, const std::string &bytes);
    JsonLine &number(const char *name, qint64 value);
    JsonLine &number(const char *name, double value);
    JsonLine &boolean(const char *name, bool value);
    JsonLine &object(const char *name, const JsonLine &inner);

    // The object without the line feed.
    QByteArray toJson() const;
    QByteArray line() const;

    static bool isUtf8(const QByteArray &bytes);
    // The JSON string literal, quotes included.
    static QByteArray quoted(const QByteArray &bytes);

private:
    void key(const char *name);

    QByteArray members;
};
