#pragma once

#include <QDialog>
#include <QString>

class ChooseDirWidget;
class QObject;
class QSettings;

// Asks for the source directory and the checksums file before a job. Both
// paths are loaded from the settings on every opening and stored on Ok.
class DBParamWindow : public QDialog
{
    Q_OBJECT
public:
    explicit DBParamWindow(QWidget *parent);

    // Not owned. While none is set, nothing is loaded or stored.
    void setSettings(QSettings *settings);

    // The settings the remembered paths are kept in: the system-wide INI
    // file where it can be written, otherwise the user's own one, which is
    // read first and falls back on the system-wide file for each value.
    static QSettings *openSettings(QObject *parent);

    QString sourceDirectory() const;
    QString checksumFile() const;

public slots:
    void accept() override;
    void reject() override;
    int exec() override;

protected:
    QSettings *settings;
    ChooseDirWidget *sourceWidget;
    ChooseDirWidget *checksumWidget;
};
