#pragma once

// Helpers shared by the dialog tests: a translator that tags every text with
// its context, a closer for message boxes and a stand-in for the user at
// file choosers. Boxes run their own event loop, so they are found by
// polling from a timer that fires inside that loop.

#include "choosedirwidget.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QStringList>
#include <QTimer>
#include <QTranslator>

#include <functional>
#include <initializer_list>
#include <utility>

// Answers every lookup with "<context>|<source>", so a test can see which
// context a visible text was translated in.
class ContextTaggingTranslator : public QTranslator
{
public:
    QString translate(const char *context, const char *sourceText, const char * = nullptr,
                      int = -1) const override
    {
        return QString::fromUtf8(context) + QLatin1Char('|') + QString::fromUtf8(sourceText);
    }
    bool isEmpty() const override { return false; }
};

class ScopedTranslator
{
public:
    ScopedTranslator() { QCoreApplication::installTranslator(&translator); }
    ~ScopedTranslator() { QCoreApplication::removeTranslator(&translator); }

private:
    ContextTaggingTranslator translator;
};

struct SeenBox
{
    QMessageBox::Icon icon;
    QString title;
    QString text;
    QMessageBox::StandardButtons buttons;
    bool parentIsWindow;
};

// Records and closes (with Ok) every message box that shows up while alive.
class BoxCloser : public QObject
{
public:
    explicit BoxCloser(const QWidget *expectedParent = nullptr)
        : parentWindow(expectedParent)
    {
        connect(&timer, &QTimer::timeout, this, &BoxCloser::poll);
        timer.start(5);
    }

    QList<SeenBox> boxes;

private:
    void poll()
    {
        const auto windows = QApplication::topLevelWidgets();
        for (QWidget *w : windows) {
            auto *box = qobject_cast<QMessageBox *>(w);
            if (!box || !box->isVisible())
                continue;
            boxes.append({box->icon(), box->windowTitle(), box->text(), box->standardButtons(),
                          box->parentWidget() == parentWindow});
            if (QAbstractButton *ok = box->button(QMessageBox::Ok))
                ok->click();
            else
                box->reject();
        }
    }

    const QWidget *parentWindow;
    QTimer timer;
};

// Stands in for the user at the file choosers of the given rows while
// alive: `answer` gets each chooser as the row made it, never shown, and
// returns the path chosen, or an empty string for a cancel. Nothing the
// chooser would do on the screen (focus, its listing of the folder on a
// thread of its own) has a part in the answer.
class ChooserStandIn
{
public:
    ChooserStandIn(std::initializer_list<ChooseDirWidget *> rows,
                   std::function<QString(QFileDialog &)> answer)
        : rows(rows)
    {
        for (ChooseDirWidget *row : rows) {
            row->setChooserRun([this, answer](QFileDialog &chooser) {
                ++opened;
                return answer(chooser);
            });
        }
    }
    ~ChooserStandIn()
    {
        for (ChooseDirWidget *row : std::as_const(rows))
            row->setChooserRun({});
    }
    ChooserStandIn(const ChooserStandIn &) = delete;
    ChooserStandIn &operator=(const ChooserStandIn &) = delete;

    int opened = 0;

private:
    QList<ChooseDirWidget *> rows;
};

// Finds the push button with the given text among the children of `parent`.
inline QPushButton *buttonWithText(const QWidget *parent, const QString &text)
{
    const auto buttons = parent->findChildren<QPushButton *>();
    for (QPushButton *b : buttons)
        if (b->text() == text)
            return b;
    return nullptr;
}

// What of a shown window lies beyond the screen it is on, or beyond the
// window itself: empty when the window and every button in it can be seen
// and reached at full size.
inline QString partsOffScreen(const QWidget &window)
{
    QStringList parts;
    if (!window.screen()->availableGeometry().contains(window.frameGeometry()))
        parts << QStringLiteral("window %1 wide").arg(window.frameGeometry().width());
    const auto buttons = window.findChildren<QPushButton *>();
    for (const QPushButton *button : buttons) {
        const QRect place(button->mapTo(&window, QPoint(0, 0)), button->size());
        if (button->isVisibleTo(&window)
            && (!window.rect().contains(place) || button->width() < button->minimumSizeHint().width()))
            parts << QStringLiteral("button \"%1\" from %2 to %3").arg(button->text()).arg(place.left()).arg(place.right());
    }
    return parts.join(QStringLiteral("; "));
}
