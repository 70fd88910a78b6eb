#pragma once

#include "dbparamwindow.h"

// Parameters of the verify job: the checksums file must already exist.
class CheckDBWindow : public DBParamWindow
{
    Q_OBJECT
public:
    explicit CheckDBWindow(QWidget *parent);
};
