#pragma once

#include "dbparamwindow.h"

// Parameters of the create job: the checksums file is chosen in a save dialog.
class CreateDBWindow : public DBParamWindow
{
    Q_OBJECT
public:
    explicit CreateDBWindow(QWidget *parent);
};
