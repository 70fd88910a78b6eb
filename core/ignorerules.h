#pragma once

#include <QCoreApplication>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The rules of a source directory's ignore file, one pattern a line, in the
// manner of .gitignore: "*", "?" and "[...]" match within one name, "**"
// across directories; a pattern with a slash before its end is anchored at
// the source directory, one without matches the name at any depth; a closing
// slash matches directories only; "!" takes back what an earlier line
// excluded; a later line wins over an earlier one. Blank lines and lines
// starting with "#" are skipped, spaces and tabs at a line's end are dropped
// unless escaped, and a backslash makes the next character plain.
//
// Names are matched as the bytes the directory gives, letter case counts.
// "?" and a set take one character: a UTF-8 sequence where the bytes form
// one, otherwise a single byte, so that both UTF-8 and legacy names match as
// their owner reads them.
class IgnoreRules
{
    Q_DECLARE_TR_FUNCTIONS(IgnoreRules)

public:
    static constexpr const char *fileName = ".orvalenignore";

    // Reads the ignore file of sourceDir (the directory as the file system
    // takes it). No file means no rules; a symbolic link to none cannot be
    // read. False when the file cannot be read or holds a malformed line;
    // errorText() then says which, and no rule is kept.
    bool load(const std::string &sourceDir);
#ifdef ORVALEN_POSIX
    // The same for a source directory already opened; sourceDir only names
    // the file in messages.
    bool load(int sourceDirFd, const std::string &sourceDir);
#endif
    // Takes the rules from content, the text of the file named in messages
    // by displayName. False on the first malformed line, with no rule kept.
    bool parse(const std::string &content, const QString &displayName);

    bool isEmpty() const { return rules.empty(); }
    QString errorText() const { return error; }
    // The errno of an ignore file that could not be opened, 0 otherwise: a
    // want of descriptors says nothing about the file.
    int openError() const { return openErrno; }

    // Whether the rules leave out the entry at path (length bytes below the
    // source directory, names joined by single slashes, none leading or
    // trailing), or one of the directories above it.
    bool excluded(const char *path, std::size_t length, bool isDirectory) const;
    // The same for a listing that never enters an excluded directory: only
    // the entry itself is judged, its directories are taken as kept.
    bool excludedEntry(const char *path, std::size_t length, bool isDirectory) const
    {
        return !rules.empty() && judge(path, length, isDirectory) > 0;
    }

private:
    // A one-character set such as [a-z] or [!0-9]: ranges of character codes.
    struct Range
    {
        std::uint32_t first;
        std::uint32_t last;
    };
    struct Token
    {
        enum Kind : std::uint8_t { Literal, AnyOne, AnyRun, Set, NotSet } kind;
        // Literal: bytes in Name::text; Set, NotSet: ranges in Name::ranges.
        std::uint32_t begin;
        std::uint32_t count;
    };
    // What one name must look like. The common shapes skip the general
    // matcher: a plain name, "*" followed by a plain tail, "*" alone.
    struct Name
    {
        enum Shape : std::uint8_t { Plain, Tail, Anything, General, AnyDepth } shape = General;
        std::string text;
        std::vector<Token> tokens;
        std::vector<Range> ranges;
        bool matches(const char *begin, const char *end) const;
    };
    struct Rule
    {
        // For an anchored rule, one Name per component of the path ("**" is
        // AnyDepth); otherwise the one Name that the last component must fit.
        std::vector<Name> names;
        bool anchored = false;
        bool directoriesOnly = false;
        bool negated = false;
        // name: where the last component of path begins.
        bool matches(const char *path, std::size_t length, const char *name) const;
    };

    // 1 excluded, -1 taken back by a "!" line, 0 no line says anything.
    int judge(const char *path, std::size_t length, bool isDirectory) const;
#ifdef ORVALEN_POSIX
    // dangling: the name is a symbolic link whose target does not exist.
    bool loadOpened(int fd, const QString &displayName, bool dangling);
#endif
    // Empty when line is a pattern (or a line to skip); otherwise why not.
    QString compile(const std::string &line, Rule &rule, bool &skip) const;
    QString compileName(const std::string &component, Name &name) const;

    std::vector<Rule> rules;
    QString error;
    int openErrno = 0;
};
