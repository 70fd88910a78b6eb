#pragma once

#include <QIcon>
#include <QList>

// The program's icon in every size the hicolor theme is given, compiled in
// so that a copy started from the build folder shows it too.
class ApplicationIcon
{
public:
    static QList<int> sizes();
    static QIcon icon();
    // Makes it the icon of every window and dialog of the application, for
    // title bars and task bars. Needs the QApplication.
    static void install();
};
