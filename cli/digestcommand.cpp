#include "digestcommand.h"

#include "exitcode.h"
#include "hashfactory.h"
#include "hashwrapper.h"
#include "hlexception.h"
#include "interruptflag.h"
#include "terminalname.h"
#include "unreadablereport.h"

#include <cstdio>
#include <memory>
#include <string>

int DigestCommand::run(const QString &algorithm, const QList<QByteArray> &files)
{
    const std::unique_ptr<hashwrapper> hasher(hashfactory().makeWrapper(algorithm.toStdString()));
    if (!hasher) {
        message(tr("Unknown algorithm \"%1\".").arg(algorithm));
        return ExitError;
    }

    // Nothing is written but stdout, so a signal may end the process at once
    // even in the middle of a big file.
    InterruptFlag::setPhase(InterruptFlag::Reading);
    int status = ExitSuccess;
    for (const QByteArray &path : files) {
        std::string text;
        try {
            text = hasher->digestOfFile(path.toStdString());
        } catch (const hlException &failure) {
            // Later lines must not overtake earlier ones on a shared terminal.
            std::fflush(stdout);
            messageNaming(tr("Cannot read file \"%1\": %2.")
                              .arg(QStringLiteral("%1"), UnreadableReport::reason(failure.errorNumber)),
                          path);
            status = ExitError;
            continue;
        }
        output(TerminalName::digestLine(text, path));
    }
    return status;
}
