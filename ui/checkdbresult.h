#pragma once

#include <QDialog>
#include <QString>

#include <memory>
#include <vector>

class CheckErrTable;
class CompareErr;
class DBHashWidget;
class QLabel;
class QPushButton;

// The last window of a verification: the checksums file, its digest, a
// verdict and the discrepancies, which can be copied as text.
class CheckDBResult : public QDialog
{
    Q_OBJECT
public:
    // Reads the records once; the caller keeps ownership of them.
    CheckDBResult(const QString &checksumFile, const QString &digest,
                  const std::vector<std::unique_ptr<CompareErr>> &errors, QWidget *parent = nullptr);

protected:
    void showEvent(QShowEvent *event) override;

private slots:
    void copyToClipboard();

private:
    void showErrors(const std::vector<std::unique_ptr<CompareErr>> &errors);

    DBHashWidget *hashWidget;
    CheckErrTable *errTable;
    QPushButton *copyButton;
    QLabel *resultLabel;
};
