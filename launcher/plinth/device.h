#ifndef PLINTH_DEVICE_H
#define PLINTH_DEVICE_H

#include <QString>

// Description of the device the reader runs on. A default-built Device
// describes the device at hand.
class Device {
  public:
    Device();
    Device(const Device& other);
    Device& operator=(const Device& other);
    virtual ~Device();

    QString modelName() const { return m_modelName; }
    QString serialNumber() const { return m_serialNumber; }
    int generation() const { return m_generation; }

  private:
    QString m_modelName;
    QString m_serialNumber;
    int m_generation;
};

#endif  // PLINTH_DEVICE_H
