#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <utility>
#include <vector>

// The remembered paths: string values in the INI file that QSettings keeps
// for the organisation "Varnock" and the application "Orvalen", written the
// way QSettings writes strings, so either can read what the other wrote.
// The file is read here as plain text and never through QSettings, which
// would decode a value of the form @Variant(...) into whatever it claims to
// be (an allocation of any size included), and would open a FIFO and wait
// for a writer that never comes.
class SettingsFile : public QObject
{
    Q_OBJECT
public:
    using Values = std::vector<std::pair<QString, QString>>;

    // Values are read from the first of `readFrom` that holds the key, and
    // stored in `writeTo`.
    SettingsFile(const QString &writeTo, const QStringList &readFrom, QObject *parent = nullptr);

    // The application's own: the system-wide file where it can be written,
    // otherwise the user's own one, which is read first and falls back on
    // the system-wide file for each value. The places are those QSettings
    // uses for the INI format, also as set with QSettings::setPath.
    static SettingsFile *openApplicationSettings(QObject *parent);

    QString fileName() const;

    // The key's text. Empty when no file holds the key, or the value is not
    // plain text (a serialized value, a list), or the file is no regular
    // file or cannot be read.
    QString value(const QString &key) const;

    // Stores the values under their keys in the file, keeping its other
    // keys, and replaces the file in one step. False when it cannot.
    bool setValues(const Values &values);

    // One value as QSettings writes a string, and back. fromIni gives an
    // empty string for a value that QSettings would not read as this text.
    static QByteArray toIni(const QString &value);
    static QString fromIni(const QByteArray &text);

private:
    QString writeTo;
    QStringList readFrom;
};
