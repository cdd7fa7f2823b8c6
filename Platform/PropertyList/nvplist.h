#ifndef NVPLIST_H
#define NVPLIST_H

// Property-list values are libplist's plist_t (dictionary, array, integer, data, string…);
// whoever receives a non-borrowed value frees it with plist_free. Files are read in XML or
// binary form and written as XML. Preferences are one XML property list per application,
// named by its bundle identifier, in $XDG_CONFIG_HOME (default ~/.config). Nothing here
// throws: failures are null or false.

#include <plist/plist.h>

#include <cstddef>
#include <cstdint>
#include <string>

// Parses XML or binary property-list bytes. Null when they do not parse.
plist_t NVPlistFromBytes(const void* bytes, size_t size);
// The value as XML text; empty for a null value.
std::string NVPlistToXml(plist_t value);

// Reads a property-list file; null when it is missing, unreadable or does not parse.
plist_t NVPlistReadFile(const char* path);
// Writes the value as XML through a temporary file beside the target, fsync and rename, so
// that a reader sees the old file or the new one, never a part.
bool NVPlistWriteFileAtomic(const char* path, plist_t value);

// Dictionary lookups. Borrowed results; false or null when the key is absent or of another type.
plist_t NVPlistDictGet(plist_t dict, const char* key);
bool NVPlistDictGetInt(plist_t dict, const char* key, int64_t* value);
bool NVPlistDictGetString(plist_t dict, const char* key, std::string* value);
// Copies at most capacity bytes of a data value; *size receives the value's full length.
bool NVPlistDictGetData(plist_t dict, const char* key, void* buffer, size_t capacity, size_t* size);
// Sets a signed integer (stored through libplist's unsigned integer with a cast).
void NVPlistDictSetInt(plist_t dict, const char* key, int64_t value);

// Preferences of one application domain (bundle identifier). Values set are kept in memory
// until NVPrefsSynchronize writes the domain's file atomically.
std::string NVPrefsPath(const char* bundleId);
// A copy of the value under key, owned by the caller; null when absent.
plist_t NVPrefsCopyValue(const char* key, const char* bundleId);
// Stores a copy of value under key (null removes the key).
bool NVPrefsSetValue(const char* key, plist_t value, const char* bundleId);
// Writes the domain to disk. False when the file cannot be written.
bool NVPrefsSynchronize(const char* bundleId);

#endif
