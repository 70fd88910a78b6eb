#pragma once

#include <QDialog>

#include <vector>

class CheckDBWindow;
class CreateDBWindow;
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

private slots:
    void createDB();
    void checkDB();
    void showAbout();

private:
    void showError(const QString &message);
    bool hashTree(const QString &sourceDirectory, const QString &checksumFile,
                  std::vector<HashRecord> &records, bool toBeWritten = false);

    CreateDBWindow *createDBWindow = nullptr;
    CheckDBWindow *checkDBWindow = nullptr;
    HashTools *hashTools = nullptr;
    SettingsFile *settings = nullptr;
};
