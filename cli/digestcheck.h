#pragma once

#include <QByteArray>
#include <QCoreApplication>
#include <QList>
#include <QString>

#include <string>
#include <vector>

// digest --check: reads lists of digests as `sha256sum -c` reads them and
// tells for each listed file whether its content still has that digest.
// A line is "digest  path" (also "digest *path", and the form that starts
// with a backslash and escapes the path) or "TAG (path) = digest" with TAG
// one of MD5, SHA1, SHA256, SHA384, SHA512. The files are read by the scan's
// pipeline, many at once; the result lines still come in list order.
class DigestCheck
{
    Q_DECLARE_TR_FUNCTIONS(DigestCheck)

public:
    // algorithm: the one every line must use, as hashfactory names it;
    // empty: each line's own, from its tag or its digest's length. quiet: no
    // line for a file that is OK. jobs: files read at once, 0 for the
    // engine's own choice.
    DigestCheck(const std::string &algorithm, bool quiet, int jobs);

    struct Entry
    {
        std::string algorithm;
        // Lowercase hexadecimal.
        std::string digest;
        QByteArray path;
    };
    enum class LineKind { Entry, Ignored, Malformed };
    // One line of a list, its line end removed. Blank lines and lines that
    // start with # are Ignored. The first line in GNU form decides, for
    // every list after it, whether such lines mark the mode ("digest  path",
    // "digest *path") or not ("digest path", the path taken whole).
    LineKind parseLine(const QByteArray &line, Entry &entry);

    // The name as a result line shows it: as it is, unless it holds a line
    // feed; then it starts with a backslash and a backslash, line feed or
    // carriage return in it is escaped.
    static QByteArray shownName(const QByteArray &path);

    // Checks each list in turn ("-" is standard input). 0 when every file
    // listed is OK, 1 when one is not or cannot be read, 2 when a list
    // cannot be read or holds no line that could be checked.
    int run(const QList<QByteArray> &lists);

private:
    // How the listed file fared.
    enum State : unsigned char { Pending, Ok, Failed, Unreadable };

    int checkList(const QByteArray &listName);
    // Reads the files of entries whose algorithm is algorithm, settling
    // their states as the results come.
    void readFiles(const std::vector<Entry> &entries, const std::string &algorithm);
    void settle(std::size_t index, State state, const QString &reason = QString());
    // Writes the result lines from the first one not yet written up to the
    // next file whose state is still pending.
    void writeSettled(const std::vector<Entry> &entries);
    static QString whyUnreadable(const QByteArray &path, int error);

    enum class Marks { Unknown, With, Without };
    Marks marks = Marks::Unknown;
    const std::string forced;
    const bool quiet;
    const int jobs;

    std::vector<State> states;
    std::vector<QString> reasons;
    std::size_t written = 0;
};
