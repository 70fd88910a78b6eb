#pragma once

#include <QStringList>

class QString;
class QTranslator;

// Finds the translation files at start-up. The working directory is asked
// first, by bare file name, so a copy beside a freshly built program wins;
// an installed copy started from a desktop menu runs with some other working
// directory and finds its files in the folders tried after it.
class TranslationLoader
{
public:
    // Loads baseName + localeName (Qt strips the name back at its last
    // underscore or dot when the full name is missing: orvalen_de_DE, then
    // orvalen_de). Returns whether a file was loaded.
    static bool load(QTranslator &translator, const QString &baseName,
                     const QString &localeName, const QStringList &fallbackDirs);

    // Where an installation keeps this program's own translations.
    static QStringList installedDirs();

    // Where Qt keeps the translations of its own texts.
    static QStringList qtDirs();
};
