#include "dbparamwindow.h"

#include "choosedirwidget.h"
#include "settingsfile.h"

#include <QDir>
#include <QHBoxLayout>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

namespace {
const char sourceDirectoryKey[] = "SourceDirectory";
const char checksumFileKey[] = "ChecksumFile";
}

DBParamWindow::DBParamWindow(QWidget *parent)
    : QDialog(parent)
    , settings(nullptr)
    , sourceWidget(nullptr)
    , checksumWidget(nullptr)
{
    sourceWidget = new ChooseDirWidget(tr("Source directory"), QBoxLayout::LeftToRight, nullptr);
    checksumWidget = new ChooseDirWidget(tr("Checksums file"), QBoxLayout::LeftToRight, nullptr);
    checksumWidget->filter = tr("All files (*);;SHA256 (*.sha256)");
    checksumWidget->selectedFilter = tr("SHA256 (*.sha256)");
    checksumWidget->chooseDirectory = false;

    auto *okButton = new QPushButton(style()->standardIcon(QStyle::SP_DialogOkButton), tr("Ok"));
    auto *cancelButton = new QPushButton(style()->standardIcon(QStyle::SP_DialogCancelButton), tr("Cancel"));
    // Enter anywhere in the dialog confirms it.
    okButton->setDefault(true);

    auto *buttonRow = new QHBoxLayout;
    buttonRow->addStretch();
    buttonRow->addWidget(okButton);
    buttonRow->addWidget(cancelButton);
    buttonRow->addStretch();

    auto *column = new QVBoxLayout;
    column->addWidget(sourceWidget);
    column->addWidget(checksumWidget);
    column->addLayout(buttonRow);
    column->addStretch();
    setLayout(column);

    // A pointer to a virtual member dispatches virtually, so overrides run.
    connect(okButton, &QAbstractButton::clicked, this, &DBParamWindow::accept);
    connect(cancelButton, &QAbstractButton::clicked, this, &DBParamWindow::reject);
}

void DBParamWindow::setSettings(SettingsFile *settings)
{
    this->settings = settings;
}

QString DBParamWindow::sourceDirectory() const
{
    return sourceWidget->path();
}

QString DBParamWindow::checksumFile() const
{
    return checksumWidget->path();
}

int DBParamWindow::exec()
{
    if (settings) {
        // A missing key, or a value that cannot be read as a path, empties
        // the field.
        sourceWidget->setPath(QDir::toNativeSeparators(settings->value(QLatin1String(sourceDirectoryKey))));
        checksumWidget->setPath(QDir::toNativeSeparators(settings->value(QLatin1String(checksumFileKey))));
    }
    return QDialog::exec();
}

void DBParamWindow::accept()
{
    if (settings) {
        settings->setValues({{QLatin1String(sourceDirectoryKey), sourceWidget->path()},
                             {QLatin1String(checksumFileKey), checksumWidget->path()}});
    }
    QDialog::accept();
}

void DBParamWindow::reject()
{
    QDialog::reject();
}
