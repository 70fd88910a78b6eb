#include "qtcompat.h"

#include <QLibraryInfo>
#include <QSettings>
#include <QString>

#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)

#include <QTextCodec>

namespace {

// Qt 5 writes an INI value through the codec one UTF-16 unit at a time, so
// its own UTF-8 codec drops every character beyond the Basic Multilingual
// Plane (each surrogate half alone is no character). This codec holds a
// high surrogate back until the low one arrives. Qt owns and deletes codecs.
class IniUtf8Codec : public QTextCodec
{
public:
    QByteArray name() const override { return QByteArrayLiteral("Orvalen-INI-UTF-8"); }
    // No registered character set of its own.
    int mibEnum() const override { return -1; }

protected:
    QString convertToUnicode(const char *in, int length, ConverterState *state) const override
    {
        return utf8->toUnicode(in, length, state);
    }

    QByteArray convertFromUnicode(const QChar *in, int length, ConverterState *) const override
    {
        QString text = QString(in, length);
        if (!pendingHigh.isNull()) {
            text.prepend(pendingHigh);
            pendingHigh = QChar();
        }
        const int last = text.size() - 1;
        if (last >= 0 && text.at(last).isHighSurrogate()) {
            pendingHigh = text.at(last);
            text.chop(1);
        }
        return text.toUtf8();
    }

private:
    QTextCodec *const utf8 = QTextCodec::codecForMib(106);
    mutable QChar pendingHigh;
};

} // namespace

QString QtCompat::qtTranslationsPath()
{
    return QLibraryInfo::location(QLibraryInfo::TranslationsPath);
}

void QtCompat::useUtf8Ini(QSettings &settings)
{
    static QTextCodec *const codec = new IniUtf8Codec;
    settings.setIniCodec(codec);
}

#else

QString QtCompat::qtTranslationsPath()
{
    return QLibraryInfo::path(QLibraryInfo::TranslationsPath);
}

void QtCompat::useUtf8Ini(QSettings &)
{
    // Qt 6 reads and writes INI files as UTF-8 and has no other choice.
}

#endif
