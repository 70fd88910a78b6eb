#pragma once

// Helpers shared by the dialog tests: a translator that tags every text with
// its context, a closer for message boxes, a stand-in for the user at file
// choosers, the parameter dialogs' rows and a settings file for each test.
// Boxes run their own event loop, so they are found by polling from a timer
// that fires inside that loop.

#include "checkdbwindow.h"
#include "choosedirwidget.h"
#include "createdbwindow.h"
#include "qtcompat.h"
#include "settingsfile.h"

#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTranslator>
#include <QVariant>

#include <functional>
#include <initializer_list>
#include <memory>
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

// The parameter dialogs and their path rows.
inline std::unique_ptr<DBParamWindow> makeDialog(const QString &kind)
{
    if (kind == QLatin1String("create"))
        return std::make_unique<CreateDBWindow>(nullptr);
    return std::make_unique<CheckDBWindow>(nullptr);
}

inline ChooseDirWidget *rowWithCaption(const QWidget *dialog, const QString &caption)
{
    const auto rows = dialog->findChildren<ChooseDirWidget *>();
    for (ChooseDirWidget *row : rows) {
        const auto labels = row->findChildren<QLabel *>();
        for (QLabel *label : labels)
            if (label->text() == caption)
                return row;
    }
    return nullptr;
}

inline QLineEdit *editOf(const ChooseDirWidget *row)
{
    return row->findChild<QLineEdit *>();
}

inline QPushButton *browseOf(const ChooseDirWidget *row)
{
    return row->findChild<QPushButton *>();
}

// What a stored path looks like in a field on this platform.
inline QString native(QString path)
{
#ifdef Q_OS_WIN
    path.replace(QLatin1Char('/'), QLatin1Char('\\'));
#endif
    return path;
}

// A path no QSettings has seen, holding a copy of the file if there is one.
// QSettings keeps what it read of a file and reads it again only when its
// size or time has changed, which a rewrite of the same length within the
// same millisecond does not show; each look through a copy of its own sees
// the file as it is.
inline QString freshCopyOf(const QString &path)
{
    static int copies = 0;
    const QString copy = QStringLiteral("%1.copy%2").arg(path).arg(++copies);
    QFile::copy(path, copy);
    return copy;
}

inline std::unique_ptr<QSettings> freshIni(const QString &path)
{
    auto ini = std::make_unique<QSettings>(freshCopyOf(path), QSettings::IniFormat);
    QtCompat::useUtf8Ini(*ini);
    return ini;
}

// A folder and a settings file of its own for each test function.
class IniFileTest : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        dir = std::make_unique<QTemporaryDir>();
        QVERIFY(dir->isValid());
        iniPath = dir->filePath(QStringLiteral("orvalen.ini"));
        settings = std::make_unique<SettingsFile>(iniPath, QStringList{iniPath});
    }

    void cleanup()
    {
        settings.reset();
        dir.reset();
    }

protected:
    // Values are put in and read back with QSettings, which must read what
    // the dialogs store, and the other way round.
    void store(const QString &key, const QVariant &value)
    {
        const QString copy = freshCopyOf(iniPath);
        {
            QSettings ini(copy, QSettings::IniFormat);
            QtCompat::useUtf8Ini(ini);
            ini.setValue(key, value);
        }
        QFile::remove(iniPath);
        QVERIFY(QFile::rename(copy, iniPath));
    }
    std::unique_ptr<QSettings> stored() const { return freshIni(iniPath); }

    std::unique_ptr<QTemporaryDir> dir;
    QString iniPath;
    std::unique_ptr<SettingsFile> settings;
};
