#include "settings.h"

#include <cstdlib>
#include <cstring>

#include "device.h"

Settings::Settings(const Device& /*device*/) {}

Settings::~Settings() = default;

ApplicationSettings::ApplicationSettings(const Device& device) : Settings(device) {}

ApplicationSettings::~ApplicationSettings() = default;

bool ApplicationSettings::useMarigold() {
    // Stand-in: the setting comes from PLINTH_USE_MARIGOLD. Only getenv is
    // used, since this runs inside signal handlers.
    const char* value = std::getenv("PLINTH_USE_MARIGOLD");
    return value != nullptr && std::strcmp(value, "true") == 0;
}
