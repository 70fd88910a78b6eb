#pragma once

class QString;

// The few places where Qt 5 and Qt 6 differ in a way the program notices.
// Everything else builds unchanged against both.
class QtCompat
{
public:
    // Where Qt keeps the translations of its own texts.
    static QString qtTranslationsPath();
};
