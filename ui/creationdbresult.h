#pragma once

#include <QDialog>
#include <QString>

class DBHashWidget;

// Tells the user that the checksums file was written and shows its digest.
class CreationDBResult : public QDialog
{
    Q_OBJECT
public:
    explicit CreationDBResult(const QString &checksumFile, const QString &digest,
                              QWidget *parent = nullptr);

protected:
    void showEvent(QShowEvent *event) override;

private:
    DBHashWidget *hashWidget;
};
