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
};
