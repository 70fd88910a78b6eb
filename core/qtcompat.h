#pragma once

class QSettings;
class QString;

// The few places where Qt 5 and Qt 6 differ in a way the program notices.
// Everything else builds unchanged against both.
class QtCompat
{
public:
    // Where Qt keeps the translations of its own texts.
    static QString qtTranslationsPath();

    // Makes an INI settings object read and write its values as UTF-8, as
    // Qt 6 always does, so the file is the same whichever Qt wrote it. Call
    // before the first value is read or written.
    static void useUtf8Ini(QSettings &settings);
};
