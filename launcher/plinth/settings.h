#ifndef PLINTH_SETTINGS_H
#define PLINTH_SETTINGS_H

#include <QtGlobal>

class Device;

// Settings store of one device.
class Settings {
  public:
    explicit Settings(const Device& device);
    virtual ~Settings();

  private:
    Q_DISABLE_COPY(Settings)
};

// The application-wide settings. Adds no data to Settings.
class ApplicationSettings : public Settings {
  public:
    explicit ApplicationSettings(const Device& device);
    ~ApplicationSettings() override;

    // Returns true iff crashes are to be reported to the crash monitor
    // instead of being handled on the console. Safe to call from a signal
    // handler.
    bool useMarigold();
};

#endif  // PLINTH_SETTINGS_H
