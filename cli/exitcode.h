#pragma once

// The process exit codes of orvalen-cli; scripts and cron jobs rely on them.
enum ExitCode {
    ExitSuccess = 0,
    ExitDiscrepancies = 1,
    ExitError = 2,
    ExitInterrupted = 130
};
