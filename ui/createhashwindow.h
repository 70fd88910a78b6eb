#pragma once

#include "icreatehashreport.h"
#include "isettings.h"

#include <QElapsedTimer>
#include <QProgressDialog>

// Stands in front of the user while the engine hashes a tree, and tells the
// engine when the user has had enough.
class CreateHashWindow : public QProgressDialog, public ICreateHashReport, public ISettings
{
    Q_OBJECT
public:
    enum HashState : int { Running = 0, Finished = 1, Interrupted = 2, Failed = 3 };

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

public slots:
    void cancel();

private:
    HashState state;
    int processedCount;
    // When the label and the bar were last changed; invalid before the
    // first file of a run.
    QElapsedTimer lastShown;
};
