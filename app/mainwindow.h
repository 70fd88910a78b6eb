#pragma once

#include <QDialog>

#include <vector>

class CheckDBWindow;
class CreateDBWindow;
class CreateHashWindow;
class HashTools;
class SettingsFile;
struct HashRecord;

// The four-button window. It owns the engine, the settings and the two
// parameter dialogs for the whole run of the program; each job runs inside
// one slot, from its parameter dialog's acceptance to its result dialog.
class MainWindow : public QDialog
{
    Q_OBJECT
public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    // The signal (SIGINT, SIGTERM, SIGHUP) that stopped the program, 0 for
    // none. The event loop has then been ended with 128 plus its number.
    int stoppedBySignal() const;

private slots:
    void createDB();
    void checkDB();
    void showAbout();

private:
    void showError(const QString &message);
    void stopOnSignal(int number);
    bool hashTree(const QString &sourceDirectory, const QString &checksumFile,
                  std::vector<HashRecord> &records, bool toBeWritten = false);

    CreateDBWindow *createDBWindow = nullptr;
    CheckDBWindow *checkDBWindow = nullptr;
    HashTools *hashTools = nullptr;
    SettingsFile *settings = nullptr;
    // The progress window of the scan under way, if any.
    CreateHashWindow *runningProgress = nullptr;
    int stopSignal = 0;
};
