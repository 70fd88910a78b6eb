#include "creationdbresult.h"

#include "dbhashwidget.h"
#include "screenfit.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QShowEvent>
#include <QStyle>
#include <QVBoxLayout>

CreationDBResult::CreationDBResult(const QString &checksumFile, const QString &digest, QWidget *parent)
    : QDialog(parent, Qt::WindowFlags())
    , hashWidget(nullptr)
{
    auto *message = new QLabel(tr("Checksums file has been created successfully"));
    auto *closeButton = new QPushButton(style()->standardIcon(QStyle::SP_DialogCancelButton), tr("Close"));

    auto *buttonRow = new QHBoxLayout;
    buttonRow->addStretch();
    buttonRow->addWidget(closeButton);
    buttonRow->addStretch();

    hashWidget = new DBHashWidget(QString(), QString());
    auto *column = new QVBoxLayout;
    column->addWidget(message);
    column->addWidget(hashWidget);
    column->addLayout(buttonRow);
    setLayout(column);

    connect(closeButton, &QAbstractButton::clicked, this, &QDialog::accept);

    hashWidget->setFile(checksumFile);
    hashWidget->setHash(digest);
}

void CreationDBResult::showEvent(QShowEvent *event)
{
    // A long path or a large scale factor must not push the buttons off the
    // screen.
    if (!event->spontaneous())
        ScreenFit::fitOnScreen(*this);
    QDialog::showEvent(event);
}
