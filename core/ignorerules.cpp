#include "ignorerules.h"

#include <QDir>
#include <QFile>

#include <cstring>

#ifdef ORVALEN_POSIX
#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

// Bytes that do not form a UTF-8 sequence stand for themselves, above every
// code point, so that a set can hold legacy bytes as well as letters.
constexpr std::uint32_t rawBytes = 0x110000;

// The character at p: a well-formed UTF-8 sequence, or else the one byte.
std::uint32_t characterAt(const char *p, const char *end, std::size_t &size)
{
    const auto *bytes = reinterpret_cast<const unsigned char *>(p);
    const unsigned lead = bytes[0];
    size = 1;
    if (lead < 0x80)
        return lead;
    std::size_t more;
    std::uint32_t code;
    std::uint32_t least;
    if (lead >= 0xC2 && lead <= 0xDF) {
        more = 1;
        code = lead & 0x1F;
        least = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        more = 2;
        code = lead & 0x0F;
        least = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        more = 3;
        code = lead & 0x07;
        least = 0x10000;
    } else {
        return rawBytes + lead;
    }
    if (static_cast<std::size_t>(end - p) <= more)
        return rawBytes + lead;
    for (std::size_t k = 1; k <= more; ++k) {
        if ((bytes[k] & 0xC0) != 0x80)
            return rawBytes + lead;
        code = (code << 6) | (bytes[k] & 0x3F);
    }
    if (code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        return rawBytes + lead;
    size = more + 1;
    return code;
}

const char *componentEnd(const char *p, const char *end)
{
    const void *slash = std::memchr(p, '/', static_cast<std::size_t>(end - p));
    return slash ? static_cast<const char *>(slash) : end;
}

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

} // namespace

bool IgnoreRules::Name::matches(const char *begin, const char *end) const
{
    const auto length = static_cast<std::size_t>(end - begin);
    switch (shape) {
    case Plain:
        return length == text.size() && std::memcmp(begin, text.data(), length) == 0;
    case Tail:
        return length >= text.size() && std::memcmp(end - text.size(), text.data(), text.size()) == 0;
    case Anything:
    case AnyDepth:
        return true;
    case General:
        break;
    }

    // A run ("*") that later fails is retried one character longer; only
    // the last run need be retried, as whatever an earlier one took can
    // equally be taken by the later one.
    const char *p = begin;
    std::size_t t = 0;
    const std::size_t n = tokens.size();
    std::size_t runToken = n;
    const char *runEnd = nullptr;
    for (;;) {
        if (t < n) {
            const Token &token = tokens[t];
            if (token.kind == Token::AnyRun) {
                runToken = t++;
                runEnd = p;
                continue;
            }
            if (token.kind == Token::Literal) {
                if (static_cast<std::size_t>(end - p) >= token.count
                    && std::memcmp(p, text.data() + token.begin, token.count) == 0) {
                    p += token.count;
                    ++t;
                    continue;
                }
            } else if (p < end) {
                std::size_t size;
                const std::uint32_t c = characterAt(p, end, size);
                bool fits = token.kind == Token::AnyOne;
                if (!fits) {
                    bool inSet = false;
                    for (std::uint32_t r = token.begin; r < token.begin + token.count && !inSet; ++r)
                        inSet = ranges[r].first <= c && c <= ranges[r].last;
                    fits = inSet == (token.kind == Token::Set);
                }
                if (fits) {
                    p += size;
                    ++t;
                    continue;
                }
            }
        } else if (p == end) {
            return true;
        }
        if (runToken == n || runEnd == end)
            return false;
        std::size_t size;
        characterAt(runEnd, end, size);
        runEnd += size;
        p = runEnd;
        t = runToken + 1;
    }
}

bool IgnoreRules::Rule::matches(const char *path, std::size_t length, const char *name) const
{
    const char *end = path + length;
    if (!anchored)
        return names.front().matches(name, end);
    // Most paths fail on their own name; ask that first, before the search
    // for where a "**" ends.
    if (names.back().shape != Name::AnyDepth && !names.back().matches(name, end))
        return false;

    // Names against components as a name's characters against its pattern:
    // "**" is the run, retried one component longer when what follows fails.
    // A position past length means every component is taken.
    auto stopOf = [&](std::size_t at) { return static_cast<std::size_t>(componentEnd(path + at, end) - path); };
    std::size_t pos = 0;
    std::size_t i = 0;
    const std::size_t n = names.size();
    std::size_t runName = n;
    std::size_t runEnd = 0;
    for (;;) {
        const bool left = pos <= length;
        if (i < n) {
            const Name &name = names[i];
            if (name.shape == Name::AnyDepth) {
                runName = i++;
                runEnd = pos;
                continue;
            }
            if (left) {
                const std::size_t stop = stopOf(pos);
                if (name.matches(path + pos, path + stop)) {
                    pos = stop + 1;
                    ++i;
                    continue;
                }
            }
        } else if (!left) {
            return true;
        }
        if (runName == n || runEnd > length)
            return false;
        runEnd = stopOf(runEnd) + 1;
        pos = runEnd;
        i = runName + 1;
    }
}

int IgnoreRules::judge(const char *path, std::size_t length, bool isDirectory) const
{
    const char *name = path + length;
    while (name > path && name[-1] != '/')
        --name;
    for (auto rule = rules.rbegin(); rule != rules.rend(); ++rule) {
        if (rule->directoriesOnly && !isDirectory)
            continue;
        if (rule->matches(path, length, name))
            return rule->negated ? -1 : 1;
    }
    return 0;
}

bool IgnoreRules::excluded(const char *path, std::size_t length, bool isDirectory) const
{
    if (rules.empty() || length == 0)
        return false;
    for (std::size_t i = 0; i < length; ++i) {
        if (path[i] == '/' && judge(path, i, true) > 0)
            return true;
    }
    return judge(path, length, isDirectory) > 0;
}

QString IgnoreRules::compileName(const std::string &component, Name &name) const
{
    const std::size_t n = component.size();
    const char *bytes = component.data();
    const char *end = bytes + n;
    std::size_t literalBegin = 0;
    auto flushLiteral = [&] {
        if (name.text.size() > literalBegin)
            name.tokens.push_back({Token::Literal, static_cast<std::uint32_t>(literalBegin),
                                   static_cast<std::uint32_t>(name.text.size() - literalBegin)});
        literalBegin = name.text.size();
    };
    // The character at i, a backslash making it plain; i moves past it.
    auto takeCharacter = [&](std::size_t &i) {
        if (bytes[i] == '\\')
            ++i;
        std::size_t size;
        const std::uint32_t c = characterAt(bytes + i, end, size);
        i += size;
        return c;
    };

    for (std::size_t i = 0; i < n;) {
        const char c = bytes[i];
        if (c == '\\') {
            name.text += bytes[i + 1];
            i += 2;
        } else if (c == '*') {
            flushLiteral();
            if (name.tokens.empty() || name.tokens.back().kind != Token::AnyRun)
                name.tokens.push_back({Token::AnyRun, 0, 0});
            ++i;
        } else if (c == '?') {
            flushLiteral();
            name.tokens.push_back({Token::AnyOne, 0, 0});
            ++i;
        } else if (c == '[') {
            flushLiteral();
            std::size_t j = i + 1;
            const bool negated = j < n && (bytes[j] == '!' || bytes[j] == '^');
            if (negated)
                ++j;
            const auto first = static_cast<std::uint32_t>(name.ranges.size());
            // A "]" right after the opening is a member, not the close.
            bool closed = false;
            for (bool leading = true; j < n; leading = false) {
                if (bytes[j] == ']' && !leading) {
                    closed = true;
                    break;
                }
                if (bytes[j] == '[' && j + 1 < n && bytes[j + 1] == ':'
                    && component.find(":]", j + 2) != std::string::npos)
                    return tr("named classes such as [:alpha:] are not supported");
                const std::uint32_t low = takeCharacter(j);
                std::uint32_t high = low;
                if (j + 1 < n && bytes[j] == '-' && bytes[j + 1] != ']') {
                    ++j;
                    high = takeCharacter(j);
                    if (high < low)
                        return tr("a range in \"[...]\" runs backwards");
                }
                name.ranges.push_back({low, high});
            }
            if (!closed)
                return tr("\"[\" is not closed");
            name.tokens.push_back({negated ? Token::NotSet : Token::Set, first,
                                   static_cast<std::uint32_t>(name.ranges.size()) - first});
            i = j + 1;
        } else {
            name.text += c;
            ++i;
        }
    }
    flushLiteral();

    const std::vector<Token> &t = name.tokens;
    if (t.size() == 1 && t[0].kind == Token::Literal)
        name.shape = Name::Plain;
    else if (t.size() == 1 && t[0].kind == Token::AnyRun)
        name.shape = Name::Anything;
    else if (t.size() == 2 && t[0].kind == Token::AnyRun && t[1].kind == Token::Literal)
        name.shape = Name::Tail;
    else
        name.shape = Name::General;
    if (name.shape != Name::General)
        name.tokens.clear();
    return QString();
}

QString IgnoreRules::compile(const std::string &text, Rule &rule, bool &skip) const
{
    std::string line = text;
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    // A blank at the end stays when a backslash escapes it, that is when an
    // odd number of backslashes stands before it.
    while (!line.empty() && isBlank(line.back())) {
        std::size_t backslashes = 0;
        while (backslashes + 1 < line.size() && line[line.size() - 2 - backslashes] == '\\')
            ++backslashes;
        if (backslashes % 2 == 1)
            break;
        line.pop_back();
    }
    skip = line.empty() || line[0] == '#';
    if (skip)
        return QString();
    if (line.find('\0') != std::string::npos)
        return tr("a NUL byte, which no name holds");

    if (line[0] == '!') {
        rule.negated = true;
        line.erase(0, 1);
        if (line.empty())
            return tr("\"!\" without a pattern");
    }

    // Split at the slashes that no backslash escapes; a backslash keeps its
    // character with it for the name's own reading.
    std::vector<std::string> components(1);
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '\\') {
            if (i + 1 == line.size())
                return tr("a backslash ends the line");
            components.back() += line[i];
            components.back() += line[++i];
        } else if (line[i] == '/') {
            components.emplace_back();
        } else {
            components.back() += line[i];
        }
    }
    if (components.size() > 1 && components.back().empty()) {
        rule.directoriesOnly = true;
        components.pop_back();
    }
    if (components.size() > 1 && components.front().empty()) {
        rule.anchored = true;
        components.erase(components.begin());
    }
    if (components.size() == 1 && components.front().empty())
        return tr("nothing but slashes");
    rule.anchored = rule.anchored || components.size() > 1;

    for (const std::string &component : components) {
        if (component.empty())
            return tr("two slashes in a row");
        if (component == "." || component == "..")
            return tr("\".\" and \"..\" never match a name in the tree");
        Name name;
        if (rule.anchored && component == "**") {
            name.shape = Name::AnyDepth;
            if (!rule.names.empty() && rule.names.back().shape == Name::AnyDepth)
                continue;
        } else {
            const QString why = compileName(component, name);
            if (!why.isEmpty())
                return why;
        }
        rule.names.push_back(std::move(name));
    }
    // "dir/**" means what is inside dir, not dir itself: at least one name.
    if (rule.anchored && rule.names.back().shape == Name::AnyDepth) {
        Name any;
        any.shape = Name::Anything;
        rule.names.insert(rule.names.end() - 1, std::move(any));
    }
    return QString();
}

bool IgnoreRules::parse(const std::string &content, const QString &displayName)
{
    rules.clear();
    error.clear();
    std::vector<Rule> compiled;
    const char bom[] = "\xEF\xBB\xBF";
    std::size_t begin = content.compare(0, 3, bom) == 0 ? 3 : 0;
    for (int number = 1;; ++number) {
        std::size_t end = content.find('\n', begin);
        if (end == std::string::npos)
            end = content.size();
        Rule rule;
        bool skip = false;
        const QString why = compile(content.substr(begin, end - begin), rule, skip);
        if (!why.isEmpty()) {
            error = tr("Malformed pattern in \"%1\", line %2: %3.").arg(displayName, QString::number(number), why);
            return false;
        }
        if (!skip)
            compiled.push_back(std::move(rule));
        if (end == content.size())
            break;
        begin = end + 1;
    }
    rules = std::move(compiled);
    return true;
}

namespace {

std::string ignoreFileOf(const std::string &sourceDir)
{
    if (sourceDir.empty())
        return IgnoreRules::fileName;
    return sourceDir + (sourceDir.back() == '/' ? "" : "/") + IgnoreRules::fileName;
}

QString displayNameOf(const std::string &path)
{
    return QDir::toNativeSeparators(QFile::decodeName(QByteArray::fromStdString(path)));
}

} // namespace

#ifdef ORVALEN_POSIX

bool IgnoreRules::load(const std::string &sourceDir)
{
    return load(AT_FDCWD, sourceDir);
}

bool IgnoreRules::load(int sourceDirFd, const std::string &sourceDir)
{
    const std::string path = sourceDirFd == AT_FDCWD ? ignoreFileOf(sourceDir) : std::string(fileName);
    const int fd = ::openat(sourceDirFd, path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    // A link that leads nowhere is an ignore file meant but lost, not none:
    // taken as none, it would have every file it names hashed.
    const int openFailure = errno;
    struct stat link;
    const bool dangling = fd < 0 && openFailure == ENOENT
                          && ::fstatat(sourceDirFd, path.c_str(), &link, AT_SYMLINK_NOFOLLOW) == 0
                          && S_ISLNK(link.st_mode);
    errno = openFailure;
    return loadOpened(fd, displayNameOf(ignoreFileOf(sourceDir)), dangling);
}

// Opened without waiting, so that a FIFO of that name is refused rather than
// waited on.
bool IgnoreRules::loadOpened(int fd, const QString &displayName, bool dangling)
{
    rules.clear();
    error.clear();
    openErrno = fd < 0 ? errno : 0;
    if (fd < 0) {
        if (openErrno == ENOENT && !dangling)
            return true;
        error = tr("Cannot read the ignore file \"%1\": %2.").arg(displayName, qt_error_string(openErrno));
        return false;
    }
    std::string content;
    struct stat info;
    int failure = 0;
    bool regular = true;
    if (::fstat(fd, &info) != 0) {
        failure = errno;
    } else if (S_ISDIR(info.st_mode)) {
        failure = EISDIR;
    } else if (!S_ISREG(info.st_mode)) {
        regular = false;
    } else {
        char buffer[65536];
        for (;;) {
            const ssize_t got = ::read(fd, buffer, sizeof buffer);
            if (got > 0) {
                content.append(buffer, static_cast<std::size_t>(got));
            } else if (got == 0) {
                break;
            } else if (errno != EINTR) {
                failure = errno;
                break;
            }
        }
    }
    ::close(fd);
    if (!regular) {
        error = tr("The ignore file \"%1\" is not a regular file.").arg(displayName);
        return false;
    }
    if (failure != 0) {
        error = tr("Cannot read the ignore file \"%1\": %2.").arg(displayName, qt_error_string(failure));
        return false;
    }
    return parse(content, displayName);
}

#else

bool IgnoreRules::load(const std::string &sourceDir)
{
    rules.clear();
    error.clear();
    const std::string path = ignoreFileOf(sourceDir);
    QFile file(QFile::decodeName(QByteArray::fromStdString(path)));
    if (!file.exists())
        return true;
    if (!file.open(QIODevice::ReadOnly)) {
        error = tr("Cannot read the ignore file \"%1\": %2.").arg(displayNameOf(path), file.errorString());
        return false;
    }
    return parse(file.readAll().toStdString(), displayNameOf(path));
}

#endif
