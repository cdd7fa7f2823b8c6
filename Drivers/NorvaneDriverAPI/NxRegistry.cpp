// The device registry: one per process, driven from the run loop of the thread that
// started it.

#include "NorvaneDriverAPI.h"

USBDevice* nxapiDeviceMap[kNxapiDeviceSlots];

void nxapiInit(NXAPI_Callback, void*, GUID const&) {}
void nxapiTerm() {}
void _nxapiMarkAsRemoved(USBDevice*) {}
void _nxapiScanServices() {}

void USBDevice::onServiceInterestCallback(uint32_t, void*) {}
