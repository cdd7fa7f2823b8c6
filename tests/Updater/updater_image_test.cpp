// The shipped image: its header as a version, its payload in the image block, and the files
// that must not reach the device.

#include <cstring>
#include <string>

#include "updater_fixture.h"

namespace {

struct HeaderRow {
    const char* header;   // 8 bytes
    int major, revision, stage, build;
    char kernel;
    const char* text;
};

const HeaderRow kHeaders[] = {
    {"1041009A", 1, 4, 1, 9, 'A', "1.4.1 (kA)"},
    {"1121000B", 1, 12, 1, 0, 'B', "1.12.1 (kB)"},
    {" 041009A", 240, 4, 1, 9, 'A', "240.4.1 (kA)"},     // not a digit: byte - '0', mod 256
    {"1041999\0", 1, 4, 1, 999, '\0', "1.4.1 (k)"},      // a zero tag ends the text
};

}  // namespace

TEST_F(UpdaterTest, HeaderGivesVersionAndText) {
    for (const HeaderRow& row : kHeaders) {
        SCOPED_TRACE(row.text);
        std::string image = makeImage(row.header);
        writeImage(image);
        char text[1024];
        memset(text, 'x', sizeof(text));
        ASSERT_TRUE(initFileversion(text));
        EXPECT_STREQ(text, row.text);

        FWUpdater u;
        EXPECT_TRUE(u.initFileversion(text));
        EXPECT_STREQ(text, row.text);
        u.mImage = new char[kFWImageSize];
        u.mFileVersion.mMinor = 7;
        strcpy(u.mFileVersion.mText, "kept");
        ASSERT_TRUE(u.loadRom(loadBinResource(0)));
        EXPECT_EQ(u.mImageSize, kFWImageSize);
        EXPECT_EQ(memcmp(u.mImage, image.data() + 8, kFWImageSize), 0);
        EXPECT_EQ(u.mFileVersion.mMajor, row.major);
        EXPECT_EQ(u.mFileVersion.mRevision, row.revision);
        EXPECT_EQ(u.mFileVersion.mStage, row.stage);
        EXPECT_EQ(u.mFileVersion.mBuild, row.build);
        EXPECT_EQ(u.mFileVersion.mKernel, row.kernel);
        EXPECT_EQ(u.mFileVersion.mMinor, 7);              // untouched
        EXPECT_STREQ(u.mFileVersion.mText, "kept");
    }
}

TEST_F(UpdaterTest, FileSizes) {
    // Exactly header + payload fills the block; a longer file has its tail ignored.
    for (size_t extra : {size_t(0), size_t(1000)}) {
        std::string image = makeImage("1041009A", extra);
        writeImage(image);
        FWUpdater u;
        u.mImage = new char[kFWImageSize];
        ASSERT_TRUE(u.loadRom(loadBinResource(5)));
        EXPECT_EQ(memcmp(u.mImage, image.data() + 8, kFWImageSize), 0);
        EXPECT_EQ(loadBinResource(0), loadBinResource(42));   // one buffer, one image
    }
}

// A file shorter than header + payload is refused as if it were missing: its pages would be
// partly those of an earlier read. Neither it nor a missing file yields a version.
TEST_F(UpdaterTest, ShortOrMissingImageIsRefused) {
    std::string full = makeImage("1041009A");
    writeImage(full);
    ASSERT_NE(loadSingleBinResource(), nullptr);   // the buffer now holds a full image
    struct Row {
        const char* what;
        std::string bytes;
        bool present;
    } rows[] = {
        {"one byte short", makeImage("1051009A").substr(0, 8 + kFWImageSize - 1), true},
        {"header only", std::string("1051009A"), true},
        {"empty", std::string(), true},
        {"missing", std::string(), false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        if (row.present)
            writeImage(row.bytes);
        else
            removeImage();
        EXPECT_EQ(loadSingleBinResource(), nullptr);
        char text[1024] = "";
        EXPECT_FALSE(initFileversion(text));
        EXPECT_STREQ(text, "1.00");

        FWUpdater u;
        u.mImage = new char[kFWImageSize];
        memset(u.mImage, 0x5A, kFWImageSize);
        EXPECT_FALSE(u.loadRom(loadBinResource(0)));
        EXPECT_EQ(u.mImageSize, 0);
        EXPECT_EQ(std::string(u.mImage, kFWImageSize), std::string(kFWImageSize, '\0'));
    }
}

TEST_F(UpdaterTest, LoadRomRefusesNullAndZeroFirstByte) {
    FWUpdater u;
    EXPECT_FALSE(u.loadRom(nullptr));                 // no block yet
    u.mImage = new char[kFWImageSize];
    std::string zero = makeImage("1041009A");
    zero[0] = '\0';
    for (const char* image : {static_cast<const char*>(nullptr), zero.c_str()}) {
        memset(u.mImage, 0x5A, kFWImageSize);
        u.mImageSize = 99;
        EXPECT_FALSE(u.loadRom(image));
        EXPECT_EQ(u.mImageSize, 0);
        EXPECT_EQ(std::string(u.mImage, kFWImageSize), std::string(kFWImageSize, '\0'));
    }
}
