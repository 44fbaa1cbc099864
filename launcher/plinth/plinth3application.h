#ifndef PLINTH_PLINTH3APPLICATION_H
#define PLINTH_PLINTH3APPLICATION_H

#include <QApplication>

// The reader's application object: the process's QApplication.
class Plinth3Application : public QApplication {
  public:
    // REQUIRES: argc and argv are main's and outlive the object; argc may
    // be lowered as toolkit arguments are consumed.
    Plinth3Application(int& argc, char** argv);
    ~Plinth3Application() override;

    // Prepares the reader. Returns true iff the event loop is to run; on
    // false the process leaves with exit code 0.
    virtual bool initialize();

  private:
    Q_DISABLE_COPY(Plinth3Application)
};

#endif  // PLINTH_PLINTH3APPLICATION_H
