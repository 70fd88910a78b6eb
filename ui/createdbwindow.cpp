#include "createdbwindow.h"

#include "choosedirwidget.h"

CreateDBWindow::CreateDBWindow(QWidget *parent)
    : DBParamWindow(parent)
{
    setWindowTitle(tr("Create checksums"));
    checksumWidget->openExisting = false;
    // Extra height would only open an empty band below the buttons.
    setFixedHeight(QDialog::minimumSizeHint().height());
}
