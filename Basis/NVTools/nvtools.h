#ifndef NVTOOLS_H
#define NVTOOLS_H

// The utility library's public headers.
#include "nvobject.h"
#include "nvstring.h"
#include "nvscanner.h"

#endif
