#include "dbhashwidget.h"

#include <QClipboard>
#include <QFormLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPushButton>

DBHashWidget::DBHashWidget(const QString &file, const QString &digest, QWidget *parent)
    : QWidget(parent, Qt::WindowFlags())
    , fileLabel(nullptr)
    , hashLabel(nullptr)
{
    auto *copyButton = new QPushButton(QIcon(QStringLiteral(":/icons/copy.png")), tr("Copy"));
    copyButton->setToolTip(tr("Copy to clipboard"));
    copyButton->setFixedSize(copyButton->minimumSizeHint());

    hashLabel = new QLabel;
    auto *hashRow = new QHBoxLayout;
    hashRow->addWidget(hashLabel);
    hashRow->addWidget(copyButton);
    // Spare width goes to the right, so the button stays beside the digest.
    hashRow->addStretch();

    auto *form = new QFormLayout;
    fileLabel = new QLabel;
    form->addRow(tr("File:"), fileLabel);
    form->addRow(tr("Hash:"), hashRow);
    form->setContentsMargins(0, 0, 0, 0);
    setLayout(form);

    connect(copyButton, &QAbstractButton::clicked, this, &DBHashWidget::copyHashToClipboard);

    fileLabel->setText(file);
    hashLabel->setText(digest);
}

void DBHashWidget::setFile(const QString &file)
{
    fileLabel->setText(file);
}

void DBHashWidget::setHash(const QString &digest)
{
    hashLabel->setText(digest);
}

void DBHashWidget::copyHashToClipboard()
{
    QGuiApplication::clipboard()->setText(hashLabel->text(), QClipboard::Clipboard);
}
