#pragma once

#include <QByteArray>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

// What a program run to its end left: its exit code (-1 when it crashed or
// took longer than two minutes), standard output and standard error.
struct ProcessRun
{
    int code = -1;
    QByteArray out;
    QByteArray err;
};

// Waits, at most two minutes, for a started process to end, and takes what
// it left; one that takes longer is killed.
inline ProcessRun finish(QProcess &process)
{
    ProcessRun run;
    if (!process.waitForFinished(120000)) {
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.code = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = process.readAllStandardOutput();
    run.err = process.readAllStandardError();
    return run;
}

// Runs program in dir with no input, in the C.UTF-8 locale, so that its
// messages are the untranslated ones whatever the machine's language.
inline ProcessRun runProgram(const QString &program, const QStringList &args, const QString &dir)
{
    QProcess process;
    process.setWorkingDirectory(dir);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("LANGUAGE"));
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    process.setProcessEnvironment(env);
    process.start(program, args);
    process.closeWriteChannel();
    return finish(process);
}
