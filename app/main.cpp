#include "applicationicon.h"
#include "commandline.h"
#include "mainwindow.h"
#include "translationloader.h"

#include <QApplication>
#include <QLocale>
#include <QTranslator>

int main(int argc, char *argv[])
{
    int answeredCode = 0;
    if (CommandLine::answered(argc, argv, answeredCode))
        return answeredCode;
    QApplication application(argc, argv);
    // Lets a Wayland compositor match the window with its desktop entry.
    QGuiApplication::setDesktopFileName(QStringLiteral("com.varnock.Orvalen"));
    // The copy icon is compiled into the static dialog library, whose
    // resources are not registered by themselves.
    Q_INIT_RESOURCE(orvalen);
    ApplicationIcon::install();

    // Numbers (the progress bar's "%v / %m") look the same in every language.
    QLocale::setDefault(QLocale(QLocale::C, QLocale::AnyCountry));

    // Missing translations leave the built-in English texts; both
    // translators are installed either way.
    const QString localeName = QLocale::system().name();
    QTranslator appTranslator;
    TranslationLoader::load(appTranslator, QStringLiteral("orvalen_"), localeName,
                            TranslationLoader::installedDirs());
    application.installTranslator(&appTranslator);

    QTranslator qtTranslator;
    TranslationLoader::load(qtTranslator, QStringLiteral("qtbase_"), localeName,
                            TranslationLoader::qtDirs());
    application.installTranslator(&qtTranslator);

    int exitCode = 0;
    {
        MainWindow window(nullptr);
        window.show();
        exitCode = application.exec();
    }
    return exitCode;
}
