#pragma once

#include "icreatehashreport.h"
#include "isettings.h"

#include <QElapsedTimer>
#include <QProgressDialog>

// Stands in front of the user while the engine hashes a tree, and tells the
// engine when the user has had enough. While it exists, nothing else in the
// application takes input: only its Cancel button and the boxes it raises.
class CreateHashWindow : public QProgressDialog, public ICreateHashReport, public ISettings
{
    Q_OBJECT
public:
    enum HashState : int { Running = 0, Finished = 1, Interrupted = 2, Failed = 3 };

    // reportFile takes in pending events when this long has passed since
    // they were last taken in; a file after file check would cost more than
    // hashing a small file.
    static constexpr qint64 fileEventIntervalMs = 10;
    // isCanceled takes them in when this long has passed: the engine asks
    // about every 100 ms while one long file is hashed.
    static constexpr qint64 idleEventIntervalMs = 50;

    explicit CreateHashWindow(QWidget *parent = nullptr);

    // True only when the engine went through every file.
    bool isFinished() const;
    HashState hashState() const;
    // Files announced by the engine since the run started.
    int announcedFiles() const;

    void reportStart(int fileCount) override;
    void reportFinish() override;
    void reportFile(const QString &relativePath) override;
    void reportError(const QString &message) override;
    bool isCanceled() override;

    // Ends the run as a cancel does, without the box: the program has been
    // asked to stop, and nobody may be there to read it.
    void interrupt();

    void setVisible(bool visible) override;
    // Every way of dismissing the window during a run (Escape, the window
    // system's close, a reject from anywhere) is a cancel.
    void reject() override;

public slots:
    void cancel();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void takeInEvents();
    void showFile(const QString &relativePath, int value);
    bool mayTakeInput(QObject *object) const;

    HashState state;
    int processedCount;
    // Runs from construction; the two marks below are read from it, -1 for
    // "not yet in this run".
    QElapsedTimer clock;
    // When the label and the bar were last changed.
    qint64 lastShownAt = -1;
    // When pending events were last taken in.
    qint64 lastEventsAt = -1;
    // The latest file announced while the label could not change yet; shown
    // by the next call that may change it.
    QString pendingPath;
    int pendingValue = -1;
};
