#pragma once

#include "readfailure.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QString>

#include <string>

class JsonLine;

// How orvalen-cli tells of a file or directory it could not read. Every
// text is made here, from the failure as the engine handed it over: the
// report line, the message on stderr and the JSON object.
class UnreadableReport
{
    Q_DECLARE_TR_FUNCTIONS(CliJobs)

public:
    // "path<TAB>Cannot read file: <reason>" (or directory), the path in the
    // verify report's form.
    static QByteArray reportLine(const ReadFailure &failure);
    // "Cannot read file "<path>": <reason>." for stderr, the path being the
    // source directory as given followed by the record path.
    static QByteArray message(const QByteArray &sourceDir, const ReadFailure &failure);
    // {"path":...,"status":"unreadable","kind":...,"error":...,"errno":...}
    static JsonLine json(const ReadFailure &failure);

    // The system's text for error in the user's language, and as the
    // system writes it untranslated, for programs.
    static QString reason(int error);
    static QByteArray untranslatedReason(int error);
    // The symbolic name of error ("EIO"), or its number where it has none.
    static QByteArray errnoName(int error);
};
