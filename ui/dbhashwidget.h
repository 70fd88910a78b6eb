#pragma once

#include <QString>
#include <QWidget>

class QLabel;

// The checksums file and its own digest, with a button that copies the digest.
class DBHashWidget : public QWidget
{
    Q_OBJECT
public:
    explicit DBHashWidget(const QString &file, const QString &digest, QWidget *parent = nullptr);

    void setFile(const QString &file);
    void setHash(const QString &digest);

private slots:
    void copyHashToClipboard();

private:
    QLabel *fileLabel;
    QLabel *hashLabel;
};
