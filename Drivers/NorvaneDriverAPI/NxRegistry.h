#ifndef NXREGISTRY_H
#define NXREGISTRY_H

// The registry's process-wide state and its notification handlers. Internal to the driver
// API; clients use nxapiInit, nxapiTerm and the callback.

#include "NorvaneDriverAPI.h"
#include "nvdevservices.h"
#include "nvrunloop.h"

extern NVRunLoopRef _nxapiRunLoop;
extern NVRunLoopSourceRef _nxapiRunLoopSource;
extern NVDSObject _nxapiMasterDevicePort;           // nonzero: the registry runs
extern NVDSNotificationPortRef _nxapiNotifyPort;
extern NVDSObject _nxapiServicePublishIterator;
extern NVDSObject mServiceTerminateIterator;
extern bool mIteratorsNeedEmptying;
extern plist_t mMatchingDict;
extern NXAPI_Callback _nxapiCallbackFunction;
extern void* nxapiCallbackContext;

void ServicePublishCallback(void* refcon, NVDSObject iterator);
void ServicePublished(NVDSObject service);
void ServiceTerminateCallback(void* refcon, NVDSObject iterator);
void ServiceTerminated(NVDSObject service);

#endif
