#pragma once

// What the main window's tests share: trees to hash, the user's part in the
// dialogs of a job, and a fixture that gives every test function a settings
// folder and a working folder of its own.

#include "guidriver.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

class MainWindow;
class QAbstractButton;
class QWidget;

void writeFile(const QString &path, const QByteArray &bytes);
// The file's bytes, or "<unreadable>".
QByteArray readFile(const QString &path);
QByteArray sha256Hex(const QByteArray &bytes);
QByteArray expectedList(const QString &root, const QStringList &relativePaths);
QAbstractButton *mainButton(MainWindow &window, const QString &text);
GuiDriver::Action fillParameters(const QString &source, const QString &checksums);

struct CheckResult
{
    QStringList labels;
    bool tableHidden = false;
    bool copyHidden = false;
    QStringList rows;  // "path|message"
};

// Reads the result dialog of a verify, or of a create, and closes it.
GuiDriver::Action readCheckResult(CheckResult *result);
GuiDriver::Action readCreationResult(QStringList *labels);
void pressCancel(QWidget *progress);
QStringList entriesOf(const QString &dir);
void makeLargeTree(const QString &root);
void holdBackLastFile(const QString &root, MainWindow &window);
// The progress window once the scan has listed every file now below root.
GuiDriver::Finder progressOnceListed(const QString &root);

class MainWindowTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

protected:
    // Runs one job from its main-window button with the given steps and
    // checks that the driver played all of them and met nothing else.
    void runJob(MainWindow &window, const QString &button, GuiDriver &driver);

    std::unique_ptr<QTemporaryDir> settingsDir;
    std::unique_ptr<QTemporaryDir> work;
    QString root;
    QString startDir;
};
