#include "FWUpdater.h"

// Placeholder bodies: the flash procedure comes on its own.

void FWUpdater::OnButtonFlash() {}

bool FWUpdater::flashFirmware(bool flag) {
    (void)flag;
    return false;
}

bool FWUpdater::verifyFirmware(bool flag) {
    (void)flag;
    return false;
}

void FWUpdater::callDoModalMessage(const char* message, bool flag, bool waitForUnplug) {
    (void)message;
    (void)flag;
    (void)waitForUnplug;
}

void FWUpdater::OnButtonVerify() { verifyFirmware(false); }

bool FWUpdater::downloadFirmware(char* buffer) {
    (void)buffer;
    return false;
}
