#ifndef UNINSTALL_APPLICATION_H
#define UNINSTALL_APPLICATION_H

// The application around the controller: finding and loading the window description and
// wiring its outlets and actions.

#include <QString>
#include <memory>

class QWidget;
class controller;

// Name of the main window description in the resources folder (without ".ui").
constexpr const char kMainWindowDescription[] = "MainMenu";

// "Resources" beside the running executable, in the build tree and after installation alike.
QString resourcesDirectory();

// Loads the window description at path, connects the controller's outlets ("textField",
// "cancelButton", "uninstallButton") and the buttons' actions, and calls awakeFromNib.
// Null, with the reason in *error, when the file cannot be loaded or lacks an outlet.
std::unique_ptr<QWidget> loadMainWindow(const QString& path, controller& owner, QString* error);

// Runs the application: loads the main window, shows it and runs the event loop until the
// user quits. Returns the exit status.
int NSApplicationMain(int argc, char** argv);

#endif
