#include "FWUpdaterDefines.h"

void FWMakeVersionStringRIVOLT(NxVersion& version)
{
    _nxapiMakeVersionString(version);
}

void FWMakeVersionStringNORVANE(NxVersion& version)
{
    _nxapiMakeVersionStringStd(version);
}
