#pragma once

#include <QObject>

#include <functional>

class QSocketNotifier;

// SIGINT, SIGTERM and SIGHUP (unless ignored, as under nohup) ask the
// desktop to stop. The handler only writes the signal's number to a pipe;
// the GUI thread reads it when it next takes in events, also between two
// files of a scan, and calls onStop once, with the number. A second signal
// before the program has stopped ends it at once, after removing the
// temporary checksums file. Handlers are installed while the object lives
// and the earlier ones restored when it goes.
class StopSignals : public QObject
{
    Q_OBJECT
public:
    explicit StopSignals(std::function<void(int)> onStop, QObject *parent = nullptr);
    ~StopSignals() override;
    StopSignals(const StopSignals &) = delete;
    StopSignals &operator=(const StopSignals &) = delete;

    // The temporary checksums file, removed should the process end without
    // unwinding: at a second signal, or in exit() (which Qt calls when the
    // connection to the display breaks). Cleared with (-1, nullptr); name
    // must stay valid until then.
    static void setLeftover(int folder, const char *name);
    // True once a stop signal has come, before onStop may have run: a scan
    // that ends between the two is taken as stopped all the same.
    static bool raised();

private:
    void takeSignal();

    std::function<void(int)> onStop;
    QSocketNotifier *notifier = nullptr;
    bool stopping = false;
};
