#include "choosedirwidget.h"

#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>

ChooseDirWidget::ChooseDirWidget(const QString &labelText, QBoxLayout::Direction direction,
                                 QWidget *parent)
    : QWidget(parent)
    , pathEdit(nullptr)
    , chooseDirectory(true)
    , openExisting(true)
    , label(nullptr)
{
    auto *outer = new QBoxLayout(direction);

    pathEdit = new QLineEdit;
    auto *browseButton = new QPushButton(style()->standardIcon(QStyle::SP_FileDialogStart), QString());
    // Inside a dialog every push button would otherwise be auto-default, and
    // Enter in the line edit would open a chooser instead of pressing Ok.
    browseButton->setAutoDefault(false);

    auto *editRow = new QHBoxLayout;
    editRow->addWidget(pathEdit);
    editRow->addWidget(browseButton);

    label = new QLabel;
    outer->addWidget(label);
    outer->addLayout(editRow);
    outer->setContentsMargins(0, 0, 0, 0);
    setLayout(outer);

    connect(browseButton, SIGNAL(clicked()), this, SLOT(chooseDirClicked()));

    label->setText(labelText);
}

QString ChooseDirWidget::path() const
{
    return pathEdit->text();
}

void ChooseDirWidget::setPath(const QString &path)
{
    pathEdit->setText(path);
}

void ChooseDirWidget::chooseDirClicked()
{
    QString chosen;
    if (chooseDirectory) {
        chosen = QFileDialog::getExistingDirectory(this, tr("Choose directory"), pathEdit->text(),
                                                   QFileDialog::ShowDirsOnly);
    } else {
        const QString caption = tr("Choose file");
        if (openExisting)
            chosen = QFileDialog::getOpenFileName(this, caption, pathEdit->text(), filter,
                                                  &selectedFilter, QFileDialog::Options());
        else
            chosen = QFileDialog::getSaveFileName(this, caption, pathEdit->text(), filter,
                                                  &selectedFilter, QFileDialog::Options());
    }
    // An empty answer means the chooser was cancelled: keep what was there.
    if (!chosen.isEmpty())
        pathEdit->setText(QDir::toNativeSeparators(chosen));
}
