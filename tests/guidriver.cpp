#include "guidriver.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QEvent>
#include <QLabel>
#include <QMessageBox>
#include <QTimer>
#include <QWidget>

namespace {
// A step that has not come after this long will not come. A machine busy
// with other work may leave a test a small share of its cores, and a scan
// that takes seconds then takes more than a minute.
const qint64 stepTimeoutMs = 300000;
// An unexpected modal window is closed after this long.
const qint64 strayTimeoutMs = 3000;
}

GuiDriver::GuiDriver(QObject *parent)
    : QObject(parent), timer(new QTimer(this))
{
    // A slower poll runs on one timer, restarted, so that a poll brought
    // forward replaces the one due instead of starting a second chain.
    timer->setSingleShot(true);
    connect(timer, &QTimer::timeout, this, &GuiDriver::poll);
}

void GuiDriver::expect(const QString &what, Finder finder, Action action)
{
    steps.push_back(Step{what, std::move(finder), std::move(action)});
}

void GuiDriver::expectModal(const char *className, Action action)
{
    const QByteArray name(className);
    expect(QString::fromLatin1(name), [name]() { return activeModal(name.constData()); },
           std::move(action));
}

void GuiDriver::expectMessageBox()
{
    expectModal("QMessageBox", [this](QWidget *w) {
        seenBoxes << describe(w);
        auto *box = static_cast<QMessageBox *>(w);
        if (QAbstractButton *ok = box->button(QMessageBox::Ok))
            ok->click();
        else
            box->reject();
    });
}

void GuiDriver::setPollInterval(int milliseconds)
{
    pollInterval = milliseconds;
}

void GuiDriver::start()
{
    running = true;
    stepClock.start();
    if (pollInterval > 0)
        qApp->installEventFilter(this);
    schedule();
}

void GuiDriver::stop()
{
    running = false;
    qApp->removeEventFilter(this);
    timer->stop();
    if (next < steps.size())
        failures << QStringLiteral("never came: ") + steps[next].what;
}

bool GuiDriver::allDone() const
{
    return next >= steps.size();
}

QString GuiDriver::pendingStep() const
{
    return next < steps.size() ? steps[next].what : QString();
}

void GuiDriver::schedule()
{
    // A zero timer runs on every pass of whatever event loop is current,
    // also the short passes the progress window makes between two files.
    if (pollInterval == 0)
        QTimer::singleShot(0, this, &GuiDriver::poll);
    else
        timer->start(pollInterval);
}

bool GuiDriver::eventFilter(QObject *watched, QEvent *event)
{
    if (running && event->type() == QEvent::Show && watched->isWidgetType()
        && static_cast<QWidget *>(watched)->isWindow())
        timer->start(0);
    return QObject::eventFilter(watched, event);
}

void GuiDriver::poll()
{
    if (!running)
        return;

    if (next < steps.size()) {
        if (QWidget *w = steps[next].finder()) {
            Action action = steps[next].action;
            ++next;
            stepClock.restart();
            stray = nullptr;
            // Scheduled first: the action may open a modal loop of its own,
            // in which the following steps must still be played.
            schedule();
            action(w);
            return;
        }
        if (stepClock.elapsed() > stepTimeoutMs) {
            failures << QStringLiteral("timed out waiting for: ") + steps[next].what;
            next = steps.size();
        }
    }

    QWidget *modal = QApplication::activeModalWidget();
    // A progress window stands as long as its work lasts and goes by itself.
    if (modal && modal->inherits("QProgressDialog"))
        modal = nullptr;
    if (modal != stray) {
        stray = modal;
        strayClock.restart();
    } else if (modal && strayClock.elapsed() > strayTimeoutMs) {
        failures << QStringLiteral("unexpected window: ") + describe(modal);
        stray = nullptr;
        schedule();
        if (auto *dialog = qobject_cast<QDialog *>(modal))
            dialog->reject();
        else
            modal->close();
        return;
    }
    schedule();
}

QWidget *GuiDriver::activeModal(const char *className)
{
    QWidget *w = QApplication::activeModalWidget();
    return w && w->inherits(className) ? w : nullptr;
}

QWidget *GuiDriver::topLevelOf(const char *className)
{
    const QWidgetList windows = QApplication::topLevelWidgets();
    for (QWidget *w : windows) {
        if (w->inherits(className))
            return w;
    }
    return nullptr;
}

QString GuiDriver::describe(QWidget *window)
{
    if (auto *box = qobject_cast<QMessageBox *>(window)) {
        QString icon;
        switch (box->icon()) {
        case QMessageBox::Information: icon = QStringLiteral("information"); break;
        case QMessageBox::Warning: icon = QStringLiteral("warning"); break;
        case QMessageBox::Critical: icon = QStringLiteral("critical"); break;
        case QMessageBox::Question: icon = QStringLiteral("question"); break;
        default: icon = QStringLiteral("none"); break;
        }
        return icon + QLatin1Char('|') + box->windowTitle() + QLatin1Char('|') + box->text();
    }
    return QString::fromLatin1(window->metaObject()->className()) + QLatin1Char('|')
            + window->windowTitle();
}

bool GuiDriver::clickButton(QWidget *window, const QString &text)
{
    const auto buttons = window->findChildren<QAbstractButton *>();
    for (QAbstractButton *button : buttons) {
        if (button->text() == text) {
            button->click();
            return true;
        }
    }
    return false;
}

QStringList GuiDriver::labelTexts(QWidget *window)
{
    QStringList texts;
    const auto labels = window->findChildren<QLabel *>();
    for (QLabel *label : labels)
        texts << label->text();
    return texts;
}
