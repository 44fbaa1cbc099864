#ifndef PLINTH_HARDWARE_H
#define PLINTH_HARDWARE_H

#include <QtGlobal>

// The process-wide hardware object.
class Hardware {
  public:
    virtual ~Hardware();

    // Deals with a crash of the reader process: ends or restarts the run.
    // Called from a signal handler.
    virtual bool handleCrash();

  protected:
    Hardware();

  private:
    Q_DISABLE_COPY(Hardware)
};

class HardwareFactory {
  public:
    // Returns the process-wide hardware object, made on the first call.
    static Hardware* sharedInstance();
};

#endif  // PLINTH_HARDWARE_H
