#include "isettings.h"

ISettings::ISettings()
    : settingsFlags(0)
{
}

ISettings::~ISettings() = default;
