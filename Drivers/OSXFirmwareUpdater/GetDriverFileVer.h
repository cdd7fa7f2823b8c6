#ifndef GETDRIVERFILEVER_H
#define GETDRIVERFILEVER_H

// Major number of the "NXModuleVersionString" ("major.minor…") of a property-list file; 0
// when the file cannot be read, is no dictionary, lacks the key or the text has no number.
int getMajorVersionFromPList(char const* path);

#endif
