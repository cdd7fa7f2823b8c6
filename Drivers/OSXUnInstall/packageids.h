#ifndef UNINSTALL_PACKAGEIDS_H
#define UNINSTALL_PACKAGEIDS_H

// How the driver package's installers name their receipts.

#include <string>

// Reverse-domain prefix of every receipt identifier of the vendor's packages.
constexpr const char kPackageIdentifierPrefix[] = "com.norvane.pkg.";
static_assert(sizeof kPackageIdentifierPrefix >= 2
                  && kPackageIdentifierPrefix[sizeof kPackageIdentifierPrefix - 2] == '.',
              "the receipt identifier prefix ends in a dot");

// Where the system's receipt database keeps its files.
constexpr const char kReceiptDatabaseFolder[] = "/var/db/receipts/";

// path without the last extension of its last component: "a/b.c.d" -> "a/b.c"; a name that
// starts with its only dot (".plist") and a trailing slash are kept as they are.
std::string stringByDeletingPathExtension(const std::string& path);

// The prefix, the file name without its extension and the kind word, with no separator:
// ("VESK_QM7.kext", "driver") -> prefix + "VESK_QM7driver".
std::string receiptIdentifier(const std::string& fileName, const char* kindWord);

#endif
