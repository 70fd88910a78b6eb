#pragma once

#include <QDialog>
#include <QString>

class ChooseDirWidget;
class SettingsFile;

// Asks for the source directory and the checksums file before a job. Both
// paths are loaded from the settings on every opening and stored on Ok.
// "DB", here and in the names of the other windows (CreateDBWindow,
// CheckDBWindow, DBHashWidget, CreationDBResult, CheckDBResult) and of
// HashTools::saveDB and loadDB, stands for the checksums file.
class DBParamWindow : public QDialog
{
    Q_OBJECT
public:
    explicit DBParamWindow(QWidget *parent);

    // Not owned. While none is set, nothing is loaded or stored.
    void setSettings(SettingsFile *settings);

    QString sourceDirectory() const;
    QString checksumFile() const;

public slots:
    void accept() override;
    void reject() override;
    int exec() override;

protected:
    SettingsFile *settings;
    ChooseDirWidget *sourceWidget;
    ChooseDirWidget *checksumWidget;
};
