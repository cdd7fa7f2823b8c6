#include "controller.h"

#include "nvlog.h"
#include "packageids.h"

#include <QCoreApplication>
#include <QLabel>
#include <QPushButton>
#include <cstdio>

enum class RemovalStep { Driver, Hal, Coreaudio, Control, Midi, Templates, Receipts };

// One installed component: which step removes it, with what, what is logged when it fails,
// and whether its result enters the verdict.
struct ComponentRow {
    RemovalStep step;
    const char* installedPath;
    const char* receiptPath;
    const char* name; // file name that forms the receipt identifier, or receipt base name
    const char* kindWord;
    const char* failureLine;
    bool entersVerdict;
};

namespace {

// In removal order. Row 2 and row 4 may well be absent on a given system; their failure is
// logged but does not make the run fail.
const ComponentRow kComponents[] = {
    {RemovalStep::Driver, "/System/Library/Extensions/VESK_QM7.kext",
     "/Library/Receipts/VESK_QM7_driver.pkg", "VESK_QM7.kext", "driver",
     "Failed to remove driver\n", true},
    {RemovalStep::Driver, "/Library/Extensions/VESK_QM7.kext",
     "/Library/Receipts/VESK_QM7_driver.pkg", "VESK_QM7.kext", "driver",
     "Failed to remove driver\n", false},
    {RemovalStep::Hal, "/Library/Audio/Plug-Ins/HAL/VESK_QM7.plugin",
     "/Library/Receipts/VESK_QM7_plugin.pkg", "VESK_QM7.plugin", "plugin",
     "Failed to remove HAL\n", true},
    {RemovalStep::Coreaudio, "/Library/Audio/Plug-Ins/HAL/TBD.driver",
     "/Library/Receipts/TBD_coreaudio.pkg", "TBD.driver", "plugin",
     "Failed to remove CoreAudio DriverPlugin\n", false},
    {RemovalStep::Control, "/Applications/VESK_QM7ControlApp.app",
     "/Library/Receipts/VESK_QM7_control.pkg", "VESK_QM7ControlApp.app", "control",
     "Failed to remove Control\n", true},
    {RemovalStep::Midi, "/Library/Audio/MIDI Drivers/VESK_QM7 MIDI Driver.plugin",
     "/Library/Receipts/VESK_QM7_midi.pkg", "VESK_QM7 MIDI Driver.plugin", "midi",
     "Failed to remove MIDI\n", true},
    {RemovalStep::Templates, nullptr, nullptr, nullptr, nullptr, "Failed to remove Templates\n",
     true},
    {RemovalStep::Receipts, nullptr, nullptr, "VESK_QM7", nullptr, "Failed to remove receipts\n",
     true},
};

// The BOOL steps as statuses, so that every row is judged alike.
OSStatus statusOf(bool removed)
{
    return removed ? 0 : -1;
}

} // namespace

controller::controller(SystemServices& system) : mSystem(system) {}

void controller::awakeFromNib()
{
    setText("Click 'Uninstall' to\ncompletely remove\nthe VESK:QM7 audio drivers.");
}

void controller::setText(const QString& text)
{
    if (!textField)
        return;
    textField->setText(text);
    // The run blocks the event loop; paint now so that each step's text is seen.
    textField->repaint();
}

void controller::doCancel(QObject*)
{
    QCoreApplication::quit();
}

void controller::doUninstall(QObject*)
{
    OSStatus status =
        mSystem.create(nullptr, nullptr, kAuthorizationFlagDefaults, &authorizationRef);
    if (status != 0) {
        setText("Failed to create the\nauthorization reference.");
        fprintf(stderr, "Failed to create the\nauthref: %ld.\n", static_cast<long>(status));
        return;
    }
    if (removeAll()) {
        setText("The driver has been\ncompletly removed.\nYou should reboot your\ncomputer now.");
        if (uninstallButton)
            uninstallButton->setEnabled(false);
    } else {
        setText("The driver has NOT\nbeen removed.");
    }
    mSystem.free(authorizationRef, kAuthorizationFlagDestroyRights);
    authorizationRef = nullptr;
}

OSStatus controller::removeComponent(const ComponentRow& row)
{
    std::string id = row.kindWord ? receiptIdentifier(row.name, row.kindWord) : std::string();
    switch (row.step) {
    case RemovalStep::Driver:
        return removeDriverDriverName(row.installedPath, row.receiptPath, id);
    case RemovalStep::Hal:
        return statusOf(removeHalDriverName(row.installedPath, row.receiptPath, id));
    case RemovalStep::Coreaudio:
        return statusOf(removeCoreaudioDriverName(row.installedPath, row.receiptPath, id));
    case RemovalStep::Control:
        return statusOf(removeControlDriverName(row.installedPath, row.receiptPath, id));
    case RemovalStep::Midi:
        return statusOf(removeMidiDriverName(row.installedPath, row.receiptPath, id));
    case RemovalStep::Templates:
        return statusOf(removeTemplates());
    case RemovalStep::Receipts:
        return statusOf(removeVarDbReceipt(row.name));
    }
    return -1;
}

bool controller::removeAll()
{
    bool verdict = true;
    for (const ComponentRow& row : kComponents) {
        OSStatus status = removeComponent(row);
        if (status != 0)
            NSLog("%s", row.failureLine);
        // A cancelled prompt on the first row means the user does not want to go on.
        if (&row == &kComponents[0] && status == errAuthorizationCanceled)
            return false;
        if (row.entersVerdict)
            verdict = verdict && status == 0;
    }
    return verdict;
}
