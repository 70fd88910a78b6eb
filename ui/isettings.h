#pragma once

#include <cstdint>

// Marks a window that may one day keep per-window preferences. It has no
// operations; windows carry it so that a cast by name can find it.
class ISettings
{
public:
    ISettings();
    ~ISettings();

protected:
    std::int32_t settingsFlags;
};
