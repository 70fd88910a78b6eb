#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

class QTimer;
class QWidget;

// Plays the user's part while a modal window runs its own event loop: it
// waits for each expected window in turn and acts on it from a timer, the
// way a person answers a dialog. A window nobody expected is noted and
// closed, so a faulty flow fails the test instead of hanging it.
class GuiDriver : public QObject
{
    Q_OBJECT
public:
    using Finder = std::function<QWidget *()>;
    using Action = std::function<void(QWidget *)>;

    explicit GuiDriver(QObject *parent = nullptr);

    // The next step: wait until finder returns a window, then act on it.
    void expect(const QString &what, Finder finder, Action action);
    // The next step: wait for the active modal window of this class.
    void expectModal(const char *className, Action action);
    // The next step: wait for a message box; its icon, title and text are
    // recorded in seenBoxes, and its Ok button is clicked.
    void expectMessageBox();

    // Zero (the default) polls on every pass of the event loop, so a step
    // can act between two files of a scan; a benchmark polls less often so
    // as not to weigh on what it measures, and a window shown is then
    // looked at on the next pass, so that the wait for the poll is not
    // measured as the window's.
    void setPollInterval(int milliseconds);

    void start();
    void stop();
    bool allDone() const;
    QString pendingStep() const;

    QStringList failures;   // windows nobody expected, steps never reached
    QStringList seenBoxes;  // "<icon>|<title>|<text>" of every box answered

    // Helpers for the actions.
    static QWidget *activeModal(const char *className);
    static QWidget *topLevelOf(const char *className);
    static QString describe(QWidget *window);
    static bool clickButton(QWidget *window, const QString &text);
    static QStringList labelTexts(QWidget *window);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void poll();
    void schedule();

    struct Step
    {
        QString what;
        Finder finder;
        Action action;
    };
    std::vector<Step> steps;
    size_t next = 0;
    bool running = false;
    int pollInterval = 0;
    QTimer *timer = nullptr;
    QElapsedTimer stepClock;
    QElapsedTimer strayClock;
    QWidget *stray = nullptr;
};
