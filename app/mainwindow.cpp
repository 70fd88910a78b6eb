#include "mainwindow.h"

#include "checkdbresult.h"
#include "checkdbwindow.h"
#include "checksumfile.h"
#include "compareerr.h"
#include "createdbwindow.h"
#include "createhashwindow.h"
#include "creationdbresult.h"
#include "hashrecord.h"
#include "hashtools.h"

#include <QDir>
#include <QFile>
#include <QGridLayout>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QStyle>

#include <memory>
#include <string>
#include <vector>

namespace {

// QDir("") is the working directory: an empty field would guard whatever
// folder the program was started in, often the home folder.
bool isExistingDirectory(const QString &path)
{
    return !path.isEmpty() && QDir(path).exists();
}

} // namespace

MainWindow::MainWindow(QWidget *parent)
    : QDialog(parent)
{
    hashTools = new HashTools("sha256", this);
    settings = DBParamWindow::openSettings(this);

    auto *createButton = new QPushButton(style()->standardIcon(QStyle::SP_FileIcon),
                                         tr("Create checksums.."));
    auto *verifyButton = new QPushButton(style()->standardIcon(QStyle::SP_FileDialogContentsView),
                                         tr("Verify checksums.."));
    auto *aboutButton = new QPushButton(style()->standardIcon(QStyle::SP_FileDialogInfoView),
                                        tr("About.."));
    auto *exitButton = new QPushButton(style()->standardIcon(QStyle::SP_DialogCancelButton),
                                       tr("Exit"));

    auto *grid = new QGridLayout;
    grid->addWidget(createButton, 0, 0);
    grid->addWidget(verifyButton, 1, 0);
    grid->addWidget(aboutButton, 0, 1);
    grid->addWidget(exitButton, 1, 1);

    createDBWindow = new CreateDBWindow(this);
    createDBWindow->setSettings(settings);
    checkDBWindow = new CheckDBWindow(this);
    checkDBWindow->setSettings(settings);

    setLayout(grid);

    connect(createButton, &QAbstractButton::clicked, createDBWindow, &CreateDBWindow::exec);
    connect(verifyButton, &QAbstractButton::clicked, checkDBWindow, &CheckDBWindow::exec);
    connect(createDBWindow, &QDialog::accepted, this, &MainWindow::createDB);
    connect(checkDBWindow, &QDialog::accepted, this, &MainWindow::checkDB);
    connect(aboutButton, &QAbstractButton::clicked, this, &MainWindow::showAbout);
    connect(exitButton, &QAbstractButton::clicked, this, &QWidget::close);
}

MainWindow::~MainWindow()
{
    // The engine goes before the dialogs and the settings, which the object
    // tree releases afterwards.
    delete hashTools;
    hashTools = nullptr;
}

void MainWindow::createDB()
{
    const QString sourceDirectory = createDBWindow->sourceDirectory();
    const QString checksumFile = createDBWindow->checksumFile();

    if (!isExistingDirectory(sourceDirectory)) {
        showError(tr("Directory is not exists"));
        return;
    }
    if (checksumFile.isEmpty()) {
        showError(tr("File name is not specified"));
        return;
    }

    // A checksums file that cannot go where it is asked for is said before
    // the progress window, not after the whole tree is hashed.
    ChecksumFile::Writer writer(checksumFile.toLocal8Bit().toStdString());
    if (!writer.prepare()) {
        showError(tr("Checksums file creation error"));
        return;
    }

    std::vector<HashRecord> records;
    // The old checksums file stays as it was after an abort or a failure.
    if (!hashTree(sourceDirectory, checksumFile, records, true))
        return;

    const std::string digest = hashTools->saveDB(writer, records);
    // A file whose folder was moved during the run is not where its name
    // says, and that name must not be shown as created.
    if (digest.empty() || !writer.foundAtName()) {
        showError(tr("Checksums file creation error"));
        return;
    }

    CreationDBResult result(checksumFile, QString::fromStdString(digest), this);
    result.exec();
}

void MainWindow::checkDB()
{
    const QString sourceDirectory = checkDBWindow->sourceDirectory();
    const QString checksumFile = checkDBWindow->checksumFile();

    if (!isExistingDirectory(sourceDirectory)) {
        showError(tr("Directory is not exists"));
        return;
    }
    if (!QFile::exists(checksumFile)) {
        showError(tr("File name is not specified"));
        return;
    }

    // Read before the tree is hashed: a file that cannot serve is told at
    // once, not after hours of hashing.
    std::vector<HashRecord> storedRecords;
    const std::string digest =
            hashTools->loadDB(checksumFile.toLocal8Bit().toStdString(), storedRecords);
    if (digest.empty()) {
        showError(tr("Checksums file load error"));
        return;
    }

    std::vector<HashRecord> currentRecords;
    std::vector<std::unique_ptr<CompareErr>> errors;
    // Each file's status tells the engine an edit from possible damage.
    hashTools->setStampsWanted(true);
    const bool hashed = hashTree(sourceDirectory, checksumFile, currentRecords);
    hashTools->setStampsWanted(false);
    if (!hashed)
        return;

    hashTools->compare(currentRecords, storedRecords, errors);

    // No parent: the result stands on its own, centred on the screen.
    CheckDBResult result(checksumFile, QString::fromStdString(digest), errors, nullptr);
    result.exec();
    // Leaving the slot releases every discrepancy record with the list.
}

void MainWindow::showAbout()
{
    // One fixed Latin-1 text, the same in every language.
    const QString text = QString::fromLatin1(
            "Orvalen " ORVALEN_VERSION "\n"
            "Guards a directory tree against silent change: it records the\n"
            "SHA-256 digest of every file and later names each file that\n"
            "changed, appeared or went missing.\n"
            "\n"
            "Copyright \xA9 2026 Varnock\n"
            "Digests by Orvalen's own SHA-256 code, written from FIPS 180-4.\n"
            "User interface built with the Qt " QT_STRINGIFY(QT_VERSION_MAJOR) " toolkit (LGPL v3).");
    QMessageBox::information(this, tr("About"), text, QMessageBox::Ok, QMessageBox::NoButton);
}

void MainWindow::showError(const QString &message)
{
    QMessageBox::warning(this, tr("Error"), message, QMessageBox::Ok, QMessageBox::NoButton);
}

// Hashes the tree under a progress window. False when the run was aborted or
// failed: the window has already told the user. toBeWritten: the records go
// to a checksums file, so a name it cannot hold is refused before hashing.
bool MainWindow::hashTree(const QString &sourceDirectory, const QString &checksumFile,
                          std::vector<HashRecord> &records, bool toBeWritten)
{
    CreateHashWindow progress;
    hashTools->setRecordsToBeWritten(toBeWritten);
    // The checksums file may lie inside the tree; it must not list itself,
    // or every later verify would report it as changed.
    hashTools->calculateHashes(sourceDirectory, records, &progress, checksumFile);
    return progress.isFinished();
}
