#ifndef NXIDS_H
#define NXIDS_H

// USB ids of the build. They come from ranges kept for testing and belong to no product:
// the maker's ids are test product ids of an open-source vendor id pool, the other vendors'
// ids are unassigned values.

enum : unsigned short {
    kMakerVendorId = 0x1209,
    kUpdaterProductId = 0x0001,   // the QM7's USB function that the updater's direct path opens

    // Supported-device table, rows 1 to 7.
    kMakerProduct1 = 0x0002,
    kMakerProduct2 = 0x0003,
    kMakerProduct3 = 0x0004,
    kSecondVendorId = 0xFFF1,
    kSecondProduct1 = 0x0011,
    kSecondProduct2 = 0x0012,
    kSecondProduct3 = 0x0013,
    kSecondProduct4 = 0x0014,

    // The Halvorne device family (its product ids 3 and 8 are the ones with their own level maps).
    kHalvorneVendorId = 0xFFF2,
};

#endif
