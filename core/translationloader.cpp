#include "translationloader.h"

#include "qtcompat.h"

#include <QCoreApplication>
#include <QDir>
#include <QString>
#include <QTranslator>

bool TranslationLoader::load(QTranslator &translator, const QString &baseName,
                             const QString &localeName, const QStringList &fallbackDirs)
{
    const QString fileName = baseName + localeName;
    if (translator.load(fileName))
        return true;
    for (const QString &dir : fallbackDirs) {
        if (!dir.isEmpty() && translator.load(fileName, dir))
            return true;
    }
    return false;
}

QStringList TranslationLoader::installedDirs()
{
    QStringList dirs;
    // Relative to the executable first, so a tree installed under any prefix
    // (or moved after installation) finds its own files.
    if (QCoreApplication::instance()) {
        dirs << QDir::cleanPath(QCoreApplication::applicationDirPath() + QLatin1Char('/')
                                + QStringLiteral(ORVALEN_RELATIVE_TRANSLATIONS));
    }
    const QString configured = QStringLiteral(ORVALEN_INSTALLED_TRANSLATIONS);
    if (!dirs.contains(configured))
        dirs << configured;
    return dirs;
}

QStringList TranslationLoader::qtDirs()
{
    return QStringList() << QtCompat::qtTranslationsPath();
}
