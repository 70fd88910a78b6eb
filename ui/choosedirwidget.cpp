#include "choosedirwidget.h"

#include <QDir>
#include <QFileInfo>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>

namespace {

QString runChooser(QFileDialog &chooser)
{
    if (chooser.exec() != QDialog::Accepted)
        return QString();
    return chooser.selectedFiles().value(0);
}

} // namespace

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

void ChooseDirWidget::setChooserRun(ChooserRun run)
{
    chooserRun = std::move(run);
}

void ChooseDirWidget::chooseDirClicked()
{
    const QString start = pathEdit->text();
    // Made as QFileDialog's own get...Name functions make theirs: a start
    // path naming a file opens its folder with the file's name filled in.
    QFileDialog chooser(this, chooseDirectory ? tr("Choose directory") : tr("Choose file"), start,
                        chooseDirectory ? QString() : filter);
    if (chooseDirectory) {
        chooser.setFileMode(QFileDialog::Directory);
        chooser.setOptions(QFileDialog::ShowDirsOnly);
    } else {
        chooser.setFileMode(openExisting ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
        if (!openExisting)
            chooser.setAcceptMode(QFileDialog::AcceptSave);
        if (!selectedFilter.isEmpty())
            chooser.selectNameFilter(selectedFilter);
    }
    const QFileInfo startInfo(start);
    if (!start.isEmpty() && !startInfo.isDir())
        chooser.selectFile(startInfo.fileName());

    const QString chosen = chooserRun ? chooserRun(chooser) : runChooser(chooser);
    // An empty answer means the chooser was cancelled: keep what was there.
    if (chosen.isEmpty())
        return;
    if (!chooseDirectory)
        selectedFilter = chooser.selectedNameFilter();
    pathEdit->setText(QDir::toNativeSeparators(chosen));
}
