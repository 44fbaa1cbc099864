#ifndef PLINTH_MAIN_WINDOW_H
#define PLINTH_MAIN_WINDOW_H

class QWidget;

namespace plinth {

// Makes the stand-in's main window: the organization and application names
// and a summary of the files found under ":/". The window deletes itself
// when closed.
QWidget* createMainWindow();

}  // namespace plinth

#endif  // PLINTH_MAIN_WINDOW_H
