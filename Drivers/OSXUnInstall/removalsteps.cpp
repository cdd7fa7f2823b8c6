// The removal steps: each shows its progress text and launches a short fixed series of
// system tools with administrator rights, paced by fixed pauses. A launch's status says only
// whether the tool could be started; the steps never wait for a tool or read its result.

#include "controller.h"

#include "nvlog.h"
#include "packageids.h"

#include <cstring>
#include <iterator>
#include <vector>

enum class RemovalAction { RemoveInstalled, RemovePackage, ForgetReceipt, TouchExtensions };

struct RemovalCommand {
    bool pauseBefore;
    RemovalAction action;
    const char* logLine; // takes the status; with logsPackage, the package path first
    bool logsPackage;
};

namespace {

constexpr useconds_t kPauseMicroseconds = 500000;
constexpr const char* kRemoveTool = "/bin/rm";
constexpr const char* kReceiptTool = "/usr/sbin/pkgutil";
constexpr const char* kShellTool = "/bin/bash";

const RemovalCommand kDriverCommands[] = {
    {false, RemovalAction::RemoveInstalled, "\nError removing the\ndriver %d", false},
    {true, RemovalAction::RemovePackage, "\nError removing the\npackage (< 10.6) %d", false},
    {true, RemovalAction::ForgetReceipt, "\nError forgetting receipt %d", false},
    {false, RemovalAction::TouchExtensions, "\nError removing the\nExtension package %d", false},
};

const RemovalCommand kPluginCommands[] = {
    {true, RemovalAction::RemoveInstalled, "\nError removing the\nplugin %d", false},
    {true, RemovalAction::RemovePackage, "\nError removing the\nplugin package %s %d", true},
    {true, RemovalAction::ForgetReceipt, "\nError forgetting receipt %d", false},
};

const RemovalCommand kControlCommands[] = {
    {true, RemovalAction::RemoveInstalled, "\nError removing the\napplication %d", false},
    {false, RemovalAction::RemovePackage, "\nError removing the application package %d", false},
    {true, RemovalAction::ForgetReceipt, "\nError forgetting receipt %d", false},
};

const RemovalCommand kMidiCommands[] = {
    {true, RemovalAction::RemoveInstalled, "\nError removing the\nMIDI driver %d", false},
    {true, RemovalAction::RemovePackage, "\nError removing the MIDI package %d", false},
    {true, RemovalAction::ForgetReceipt, "\nError forgetting receipt %d", false},
};

// −60032 comes back for launches whose outcome is unknown; it is not worth a line.
bool worthLogging(OSStatus status)
{
    return status != 0 && status != errAuthorizationToolEnvironmentError;
}

} // namespace

void controller::pause()
{
    mSystem.pause(kPauseMicroseconds);
}

OSStatus controller::launch(const char* tool, std::initializer_list<const char*> arguments)
{
    std::vector<char*> argv;
    for (const char* a : arguments)
        argv.push_back(const_cast<char*>(a));
    argv.push_back(nullptr);
    return mSystem.executeWithPrivileges(authorizationRef, tool, kAuthorizationFlagDefaults,
                                         argv.data(), nullptr);
}

OSStatus controller::runCommands(const char* progressText, const char* driver,
                                 const char* package, const std::string& receiptID,
                                 const RemovalCommand* commands, size_t count,
                                 bool stopWhenCanceled)
{
    setText(progressText);
    OSStatus status = 0;
    for (size_t i = 0; i < count; ++i) {
        const RemovalCommand& command = commands[i];
        if (command.pauseBefore)
            pause();
        switch (command.action) {
        case RemovalAction::RemoveInstalled:
            status = launch(kRemoveTool, {"-r", driver});
            break;
        case RemovalAction::RemovePackage:
            status = launch(kRemoveTool, {"-r", package});
            break;
        case RemovalAction::ForgetReceipt:
            status = launch(kReceiptTool, {"-f", "--forget", receiptID.c_str()});
            break;
        case RemovalAction::TouchExtensions:
            // Renews the extensions folder's date so that the system rebuilds its caches.
            status = launch(kShellTool, {"-c", "sudo touch /System/Library/Extensions"});
            break;
        }
        if (worthLogging(status)) {
            if (command.logsPackage)
                NSLog(command.logLine, package, status);
            else
                NSLog(command.logLine, status);
        }
        if (stopWhenCanceled && status == errAuthorizationCanceled)
            return status;
    }
    return status;
}

OSStatus controller::removeDriverDriverName(const char* driver, const char* package,
                                            const std::string& receiptID)
{
    return runCommands("removing USB drivers.", driver, package, receiptID, kDriverCommands,
                       std::size(kDriverCommands), true);
}

bool controller::removeHalDriverName(const char* driver, const char* package,
                                     const std::string& receiptID)
{
    return runCommands("removing audio drivers.", driver, package, receiptID, kPluginCommands,
                       std::size(kPluginCommands), false)
        == 0;
}

bool controller::removeCoreaudioDriverName(const char* driver, const char* package,
                                           const std::string& receiptID)
{
    return runCommands("removing core audio drivers.", driver, package, receiptID,
                       kPluginCommands, std::size(kPluginCommands), false)
        == 0;
}

bool controller::removeControlDriverName(const char* driver, const char* package,
                                         const std::string& receiptID)
{
    if (strcmp(driver, "/Applications/") == 0)
        return true;
    return runCommands("removing control application.", driver, package, receiptID,
                       kControlCommands, std::size(kControlCommands), false)
        == 0;
}

bool controller::removeMidiDriverName(const char* driver, const char* package,
                                      const std::string& receiptID)
{
    if (strcmp(driver, "/Library/Audio/MIDI Drivers/") == 0)
        return true;
    return runCommands("removing MIDI drivers.", driver, package, receiptID, kMidiCommands,
                       std::size(kMidiCommands), false)
        == 0;
}

bool controller::removeTemplates()
{
    return true;
}

bool controller::removeVarDbReceipt(const std::string& name)
{
    if (name.empty())
        return true;
    setText("removing receipts.");
    pause();
    const std::string base = kReceiptDatabaseFolder + std::string(kPackageIdentifierPrefix) + name;
    const char* suffixes[] = {".control.bom",     ".control.plist",     ".driver.bom",
                              ".driver.plist",    ".midi.plugin.bom",   ".midi.plugin.plist",
                              ".plugin.bom",      ".plugin.plist"};
    std::vector<std::string> files;
    for (const char* suffix : suffixes)
        files.push_back(base + suffix);
    OSStatus status = launch(kRemoveTool, {"-f", files[0].c_str(), files[1].c_str(),
                                           files[2].c_str(), files[3].c_str(), files[4].c_str(),
                                           files[5].c_str(), files[6].c_str(), files[7].c_str()});
    if (worthLogging(status))
        NSLog("\nError removing the\nfiles %d", status);
    return status == 0;
}
