#include "screenfit.h"

#include <QCursor>
#include <QGuiApplication>
#include <QScreen>
#include <QStyle>
#include <QWidget>

void ScreenFit::fitOnScreen(QWidget &window, Growth growth)
{
    // A window without a parent opens where the pointer is, as QDialog
    // places it.
    QScreen *screen = window.parentWidget() ? window.parentWidget()->screen()
                                            : QGuiApplication::screenAt(QCursor::pos());
    if (!screen)
        screen = window.screen();
    if (screen)
        fit(window, screen->availableGeometry(), growth);
}

void ScreenFit::fit(QWidget &window, const QRect &available, Growth growth)
{
    const QMargins frame = frameOf(window);
    const QSize room(qMax(1, available.width() - frame.left() - frame.right()),
                     qMax(1, available.height() - frame.top() - frame.bottom()));
    if (growth == KeepWithin)
        window.setMaximumSize(window.maximumSize().boundedTo(room));
    const QSize size = window.size();
    if (size.width() <= room.width() && size.height() <= room.height())
        return;
    // An explicit minimum takes precedence over the one the layout derives
    // from its contents.
    window.setMinimumSize(window.minimumSize().boundedTo(room));
    window.resize(size.boundedTo(room));
}

void ScreenFit::moveOnScreen(QWidget &window)
{
    const QScreen *screen = window.screen();
    if (!screen)
        return;
    const QRect available = screen->availableGeometry();
    const QRect frame = window.frameGeometry();
    const int x = qMax(available.left(), qMin(frame.left(), available.right() + 1 - frame.width()));
    const int y = qMax(available.top(), qMin(frame.top(), available.bottom() + 1 - frame.height()));
    if (x != frame.left() || y != frame.top())
        window.move(x, y);
}

QMargins ScreenFit::frameOf(const QWidget &window)
{
    const QRect frame = window.frameGeometry();
    const QRect inner = window.geometry();
    if (frame != inner)
        return QMargins(inner.left() - frame.left(), inner.top() - frame.top(), frame.right() - inner.right(),
                        frame.bottom() - inner.bottom());
    // Not yet known before the window is first shown: a title bar above and
    // thin borders elsewhere.
    const int border = window.style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, &window);
    const int title = window.style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, &window);
    return QMargins(border, title + border, border, border);
}
