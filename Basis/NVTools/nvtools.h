#ifndef NVTOOLS_H
#define NVTOOLS_H

// The utility library's public headers.
#include "nvobject.h"
#include "nvstring.h"
#include "nvscanner.h"
#include "nvbytebuffer.h"
#include "nvcollection.h"
#include "nvnoisegenerator.h"
#include "xcodeclzw.h"
#include "OSXThread.h"

#endif
