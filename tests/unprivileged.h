#pragma once

#include <QByteArray>

#include <functional>

#include <grp.h>
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

// Root reads and writes every file whatever its mode, so permission cases run
// in a child that has become "nobody". Returns what work produced, or a null
// array when the child could not drop its rights.
inline QByteArray asUnprivileged(const std::function<QByteArray()> &work)
{
    if (::geteuid() != 0)
        return work();
    const passwd *nobody = ::getpwnam("nobody");
    int channel[2];
    if (!nobody || ::pipe(channel) != 0)
        return QByteArray();
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(channel[0]);
        if (::setgroups(0, nullptr) != 0 || ::setgid(nobody->pw_gid) != 0 || ::setuid(nobody->pw_uid) != 0)
            ::_exit(1);
        const QByteArray result = work();
        const bool written = ::write(channel[1], result.constData(), result.size()) == result.size();
        ::_exit(written ? 0 : 1);
    }
    ::close(channel[1]);
    QByteArray result;
    char buffer[4096];
    ssize_t got;
    while ((got = ::read(channel[0], buffer, sizeof buffer)) > 0)
        result.append(buffer, static_cast<int>(got));
    ::close(channel[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? result : QByteArray();
}
