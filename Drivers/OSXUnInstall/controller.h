#ifndef UNINSTALL_CONTROLLER_H
#define UNINSTALL_CONTROLLER_H

// The uninstaller's window controller: one click on Uninstall creates one authorization,
// removes every installed component of the driver package in a fixed order with
// administrator rights, and shows whether everything went away.
//
// Everything runs on the GUI thread inside the button's action, pauses included.

#include "SystemServices.h"

#include <QString>
#include <cstdint>
#include <initializer_list>
#include <string>

class QLabel;
class QObject;
class QPushButton;
struct ComponentRow;
struct RemovalCommand;

class controller {
public:
    // init. The services default to the real authorization calls and pause.
    explicit controller(SystemServices& system = SystemServices::standard());
    virtual ~controller() = default;

    void awakeFromNib();
    void doCancel(QObject* sender);
    void doUninstall(QObject* sender);
    // Every status and progress text goes through here.
    virtual void setText(const QString& text);

    // Runs the eight rows of the component table; true when everything was removed.
    bool removeAll();

    // The removal steps, one per kind of component: installed path, receipt bundle path and
    // receipt identifier. A status of 0 (or true) means only that the commands could be
    // launched; what they achieved is not observed.
    OSStatus removeDriverDriverName(const char* driver, const char* package,
                                    const std::string& receiptID);
    bool removeHalDriverName(const char* driver, const char* package,
                             const std::string& receiptID);
    bool removeCoreaudioDriverName(const char* driver, const char* package,
                                   const std::string& receiptID);
    bool removeControlDriverName(const char* driver, const char* package,
                                 const std::string& receiptID);
    bool removeMidiDriverName(const char* driver, const char* package,
                              const std::string& receiptID);
    bool removeTemplates();
    bool removeVarDbReceipt(const std::string& name);

    // Outlets, connected by the window loader; any of them may be null.
    QLabel* textField = nullptr;
    QPushButton* cancelButton = nullptr;
    QPushButton* uninstallButton = nullptr;

    // Null outside a run of doUninstall.
    AuthorizationRef authorizationRef = nullptr;
    int32_t myCommand = 0;

private:
    OSStatus removeComponent(const ComponentRow& row);
    OSStatus runCommands(const char* progressText, const char* driver, const char* package,
                         const std::string& receiptID, const RemovalCommand* commands,
                         size_t count, bool stopWhenCanceled);
    OSStatus launch(const char* tool, std::initializer_list<const char*> arguments);
    void pause();

    SystemServices& mSystem;
};

#endif
