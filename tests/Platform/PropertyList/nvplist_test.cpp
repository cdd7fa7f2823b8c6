#include "nvplist.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include <dirent.h>
#include <unistd.h>

namespace {

class PropertyList : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/nvplist-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
        setenv("XDG_CONFIG_HOME", (dir + "/config").c_str(), 1);
    }
    void TearDown() override { system(("rm -rf " + dir).c_str()); }

    std::string listing(const std::string& path)
    {
        std::string names;
        if (DIR* d = opendir(path.c_str())) {
            while (dirent* e = readdir(d))
                if (e->d_name[0] != '.')
                    names += std::string(names.empty() ? "" : " ") + e->d_name;
            closedir(d);
        }
        return names;
    }
    std::string dir;
};

TEST_F(PropertyList, FilesRoundTripAndBadOnesReadAsNull)
{
    plist_t dict = plist_new_dict();
    NVPlistDictSetInt(dict, "idVendor", 0x1209);
    NVPlistDictSetInt(dict, "negative", -5);
    plist_dict_set_item(dict, "name", plist_new_string("QM7"));
    const char uid[] = {1, 2, 3};
    plist_dict_set_item(dict, "uid", plist_new_data(uid, 3));
    std::string path = dir + "/a.plist";
    ASSERT_TRUE(NVPlistWriteFileAtomic(path.c_str(), dict));
    EXPECT_EQ(listing(dir), "a.plist"); // no temporary file left
    plist_free(dict);

    plist_t read = NVPlistReadFile(path.c_str());
    ASSERT_NE(read, nullptr);
    int64_t value = 0;
    EXPECT_TRUE(NVPlistDictGetInt(read, "idVendor", &value));
    EXPECT_EQ(value, 0x1209);
    EXPECT_TRUE(NVPlistDictGetInt(read, "negative", &value));
    EXPECT_EQ(value, -5);
    std::string text;
    EXPECT_TRUE(NVPlistDictGetString(read, "name", &text));
    EXPECT_EQ(text, "QM7");
    char data[8] = {};
    size_t size = 0;
    EXPECT_TRUE(NVPlistDictGetData(read, "uid", data, 2, &size)); // cut to the room given
    EXPECT_EQ(size, 3u);
    EXPECT_EQ(data[1], 2);
    EXPECT_EQ(data[2], 0);
    EXPECT_FALSE(NVPlistDictGetInt(read, "name", &value)); // wrong type
    EXPECT_FALSE(NVPlistDictGetString(read, "missing", &text));
    EXPECT_EQ(NVPlistDictGet(nullptr, "x"), nullptr);
    plist_free(read);

    const char* bad[] = {"", "not a plist", "<?xml version=\"1.0\"?><plist><dict><key>a", "bplist00\xff\xff"};
    for (const char* content : bad) {
        std::ofstream(path, std::ios::trunc) << content;
        EXPECT_EQ(NVPlistReadFile(path.c_str()), nullptr) << content;
    }
    EXPECT_EQ(NVPlistReadFile((dir + "/missing").c_str()), nullptr);
    EXPECT_EQ(NVPlistReadFile(nullptr), nullptr);
    plist_t flag = plist_new_bool(1);
    EXPECT_FALSE(NVPlistWriteFileAtomic((dir + "/no/such/dir.plist").c_str(), flag));
    plist_free(flag);
}

TEST_F(PropertyList, PreferencesAreStoredPerBundleOnSynchronize)
{
    const char* bundle = "com.example.nvtest";
    EXPECT_EQ(NVPrefsCopyValue("DevicesList", bundle), nullptr);
    plist_t list = plist_new_array();
    plist_array_append_item(list, plist_new_string("unit"));
    ASSERT_TRUE(NVPrefsSetValue("DevicesList", list, bundle));
    plist_free(list); // the store keeps its own copy
    EXPECT_EQ(listing(dir + "/config"), ""); // nothing written before synchronising

    ASSERT_TRUE(NVPrefsSynchronize(bundle));
    EXPECT_EQ(NVPrefsPath(bundle), dir + "/config/com.example.nvtest.plist");
    plist_t file = NVPlistReadFile(NVPrefsPath(bundle).c_str());
    ASSERT_NE(file, nullptr);
    plist_t stored = NVPlistDictGet(file, "DevicesList");
    ASSERT_NE(stored, nullptr);
    EXPECT_EQ(plist_array_get_size(stored), 1u);
    plist_free(file);

    plist_t copy = NVPrefsCopyValue("DevicesList", bundle);
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(plist_array_get_size(copy), 1u);
    plist_free(copy);

    ASSERT_TRUE(NVPrefsSetValue("DevicesList", nullptr, bundle));
    EXPECT_EQ(NVPrefsCopyValue("DevicesList", bundle), nullptr);

    plist_t value = plist_new_bool(1);
    for (const char* badBundle : {"", "../escape", "a/b", ".."}) {
        EXPECT_FALSE(NVPrefsSetValue("k", value, badBundle)) << badBundle;
        EXPECT_FALSE(NVPrefsSynchronize(badBundle)) << badBundle;
    }
    plist_free(value);
    EXPECT_FALSE(NVPrefsSetValue("k", nullptr, nullptr));
}

TEST_F(PropertyList, PreferencesReadWhatAnotherProcessWrote)
{
    std::string path = dir + "/config/com.example.other.plist";
    system(("mkdir -p " + dir + "/config").c_str());
    std::ofstream(path) << "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>DevicesList</key>"
                           "<array><dict><key>idVendor</key><integer>65522</integer></dict></array></dict></plist>";
    plist_t list = NVPrefsCopyValue("DevicesList", "com.example.other");
    ASSERT_NE(list, nullptr);
    int64_t vendor = 0;
    EXPECT_TRUE(NVPlistDictGetInt(plist_array_get_item(list, 0), "idVendor", &vendor));
    EXPECT_EQ(vendor, 65522);
    plist_free(list);

    // A preferences file that does not parse is an empty domain, and synchronising replaces it.
    std::string broken = dir + "/config/com.example.broken.plist";
    std::ofstream(broken) << "garbage";
    EXPECT_EQ(NVPrefsCopyValue("DevicesList", "com.example.broken"), nullptr);
    EXPECT_TRUE(NVPrefsSynchronize("com.example.broken"));
    plist_t file = NVPlistReadFile(broken.c_str());
    EXPECT_NE(file, nullptr);
    plist_free(file);
}

} // namespace
