#ifndef NVBUNDLE_H
#define NVBUNDLE_H

// The application's main bundle: a folder that holds Info.plist and Resources/, found from
// the executable's own location as <exe dir>/../share/vesk-qm7/<exe name>/. The build tree
// and an installed prefix use that same layout.

#include <string>

// The bundle folder (without a trailing slash).
std::string NVBundleGetMainBundlePath();
// Points the main bundle elsewhere (a test's own copy); empty restores the default.
void NVBundleSetMainBundlePath(const std::string& path);
// Path of the resource name.type in Resources/ (type may be empty); "" when there is no
// such regular file.
std::string NVBundleCopyResourcePath(const char* name, const char* type);
// CFBundleIdentifier of Info.plist; "" when it cannot be read.
std::string NVBundleGetIdentifier();

#endif
