#ifndef FWUPDATERDEFINES_H
#define FWUPDATERDEFINES_H

// Version texts of the firmware updaters, in the driver API's text forms.

#include "NorvaneDriverAPI.h"

// Full form into mText ("2.1.5", "3.05", "2.1.5.b3").
void FWMakeVersionStringRIVOLT(NxVersion& version);
// Three-number form "major.revision.stage" into mText; the updater shows the image's
// version this way.
void FWMakeVersionStringNORVANE(NxVersion& version);

#endif
