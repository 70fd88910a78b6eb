#include "checkdbwindow.h"

CheckDBWindow::CheckDBWindow(QWidget *parent)
    : DBParamWindow(parent)
{
    setWindowTitle(tr("Verify checksums"));
}
