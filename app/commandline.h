#pragma once

#include <QCoreApplication>

// The options of the desktop program that need no window: --help and
// --version are answered on standard output before any display is opened.
class CommandLine
{
    Q_DECLARE_TR_FUNCTIONS(CommandLine)

public:
    // True when the arguments asked for --help or --version and the answer
    // was printed; exitCode is then the process's exit code. Every other
    // argument is left to the application object.
    static bool answered(int argc, char *argv[], int &exitCode);
};
