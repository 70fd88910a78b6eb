#pragma once

#include <QByteArray>
#include <QString>

#include <string>

// How orvalen-cli writes a path into a line of its output, so that no byte
// of a name can move the cursor, retitle the terminal or split a line.
class TerminalName
{
public:
    // Coreutils: as sha256sum writes it, a backslash, line feed or carriage
    // return escaped. Report: also a tab and every other control byte, so
    // that a line of the verify report is one discrepancy and its first tab
    // ends the path, whatever the name holds. Sets escaped when anything
    // was.
    enum class Form { Coreutils, Report };
    static QByteArray escapedName(const QByteArray &name, Form form, bool &escaped);

    // "path<TAB>message", the path in the report form; the line starts with
    // a backslash when the path was escaped.
    static QByteArray reportLine(const std::string &path, const QString &message);
    // "newpath<TAB>message", the message's %1 standing for the old path;
    // both paths in the report form, the line starting with a backslash when
    // either was escaped.
    static QByteArray moveLine(const std::string &path, const std::string &from, const QString &message);
    // The text of format with %1 replaced by the path in the report form:
    // for a message that names a file. Bytes that are not valid text are
    // written unchanged.
    static QByteArray withEscapedName(const QString &format, const QByteArray &path);
    // The progress line's name: the last room characters of the path in the
    // report form, "..." in front when it was cut.
    static QByteArray shownName(const QByteArray &path, int room);
    // coreutils' line format, so that `sha256sum -c` accepts the output; the
    // line starts with a backslash when the name was escaped.
    static QByteArray digestLine(const std::string &digest, const QByteArray &path);
};
