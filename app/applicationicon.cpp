#include "applicationicon.h"

#include <QApplication>
#include <QString>

QList<int> ApplicationIcon::sizes()
{
    return {16, 22, 24, 32, 48, 64, 128, 256, 512};
}

QIcon ApplicationIcon::icon()
{
    // Resources of a static library are not registered by themselves.
    Q_INIT_RESOURCE(appicons);
    QIcon icon;
    const QList<int> all = sizes();
    for (const int size : all)
        icon.addFile(QStringLiteral(":/icons/orvalen-%1.png").arg(size), QSize(size, size));
    return icon;
}

void ApplicationIcon::install()
{
    // Set on the application rather than on the main window: boxes and
    // dialogs without a parent take their icon from here.
    QApplication::setWindowIcon(icon());
}
