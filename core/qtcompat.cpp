#include "qtcompat.h"

#include <QLibraryInfo>
#include <QString>

#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)

QString QtCompat::qtTranslationsPath()
{
    return QLibraryInfo::location(QLibraryInfo::TranslationsPath);
}

#else

QString QtCompat::qtTranslationsPath()
{
    return QLibraryInfo::path(QLibraryInfo::TranslationsPath);
}

#endif
