#include "checkdbresult.h"

#include "checkerrtable.h"
#include "compareerr.h"
#include "dbhashwidget.h"
#include "screenfit.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QShowEvent>
#include <QStyle>
#include <QVBoxLayout>

CheckDBResult::CheckDBResult(const QString &checksumFile, const QString &digest,
                             const std::vector<std::unique_ptr<CompareErr>> &errors, QWidget *parent)
    : QDialog(parent, Qt::WindowFlags())
    , hashWidget(nullptr)
    , errTable(nullptr)
    , copyButton(nullptr)
    , resultLabel(nullptr)
{
    setWindowTitle(tr("Check results"));

    auto *closeButton = new QPushButton(style()->standardIcon(QStyle::SP_DialogCancelButton), tr("Close"));
    copyButton = new QPushButton(QIcon(QStringLiteral(":/icons/copy.png")), tr("Copy report"));
    copyButton->setToolTip(tr("Copy to clipboard"));
    copyButton->setFixedSize(copyButton->minimumSizeHint());

    auto *buttonRow = new QHBoxLayout;
    buttonRow->addWidget(copyButton);
    buttonRow->addStretch();
    buttonRow->addWidget(closeButton);

    hashWidget = new DBHashWidget(QString(), QString());
    resultLabel = new QLabel;
    errTable = new CheckErrTable;
    auto *column = new QVBoxLayout;
    column->addWidget(hashWidget);
    column->addWidget(resultLabel);
    column->addWidget(errTable);
    column->addLayout(buttonRow);
    setLayout(column);

    connect(copyButton, &QAbstractButton::clicked, this, &CheckDBResult::copyToClipboard);
    connect(closeButton, &QAbstractButton::clicked, this, &QDialog::accept);

    hashWidget->setFile(checksumFile);
    hashWidget->setHash(digest);
    showErrors(errors);
}

void CheckDBResult::showErrors(const std::vector<std::unique_ptr<CompareErr>> &errors)
{
    const bool hasErrors = !errors.empty();
    resultLabel->setText(hasErrors ? tr("Following errors were found:") : tr("Check result: no errors"));
    errTable->setVisible(hasErrors);
    copyButton->setVisible(hasErrors);
    errTable->setErrors(errors);
}

void CheckDBResult::copyToClipboard()
{
    QGuiApplication::clipboard()->setText(errTable->reportText, QClipboard::Clipboard);
}

void CheckDBResult::showEvent(QShowEvent *event)
{
    // A long path or a large scale factor must not push the buttons off the
    // screen.
    if (!event->spontaneous())
        ScreenFit::fitOnScreen(*this);
    QDialog::showEvent(event);
}
