#include "nvscanner.h"

const char* NVScanner::scanNextToken(const char*, NVString&, char) { return nullptr; }
