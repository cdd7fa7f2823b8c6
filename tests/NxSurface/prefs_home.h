#ifndef NXSURFACE_PREFS_HOME_H
#define NXSURFACE_PREFS_HOME_H

// The surroundings of a device-list test: a temporary home, a main bundle of the test's own
// (its Info.plist names the preference domain) and the preferences folder. All of it goes
// away, and the environment is restored, at the end.

#include "halvorne_units.h"
#include "nvbundle.h"
#include "nvplist.h"
#include "temp_dir.h"

#include <cstdlib>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <vector>

// Sets an environment variable for the life of the object.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value)
        : mName(name)
    {
        const char* old = getenv(name);
        mHad = old != nullptr;
        mOld = old ? old : "";
        setenv(name, value.c_str(), 1);
    }
    ~ScopedEnv()
    {
        if (mHad)
            setenv(mName.c_str(), mOld.c_str(), 1);
        else
            unsetenv(mName.c_str());
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string mName;
    bool mHad;
    std::string mOld;
};

class PrefsHome {
public:
    static constexpr const char* kDomain = "org.example.nxsurface.devices";

    PrefsHome()
        : mHome("HOME", mDir.path())
        , mConfig("XDG_CONFIG_HOME", mDir.file("config"))
    {
        mPrefsFile = mDir.file("config") + "/" + kDomain + ".plist";
        mOk = !mDir.path().empty() && mkdir(bundle().c_str(), 0700) == 0
            && writeFile(bundle() + "/Info.plist",
                         "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
                         "<key>CFBundleIdentifier</key><string>" + std::string(kDomain) +
                         "</string></dict></plist>\n");
        NVBundleSetMainBundlePath(bundle());
    }
    ~PrefsHome() { NVBundleSetMainBundlePath(""); }
    PrefsHome(const PrefsHome&) = delete;
    PrefsHome& operator=(const PrefsHome&) = delete;

    bool ok() const { return mOk; }
    const TempDir& dir() const { return mDir; }
    std::string bundle() const { return mDir.file("bundle"); }
    const std::string& prefsFile() const { return mPrefsFile; }

    // The preference store keeps a domain per file once read, so a scenario that needs a
    // fresh one takes a folder of its own.
    void useConfig(const std::string& name)
    {
        setenv("XDG_CONFIG_HOME", mDir.file(name).c_str(), 1);
        mPrefsFile = mDir.file(name) + "/" + kDomain + ".plist";
    }
    // What a child process needs to see the same preferences.
    std::vector<std::string> childEnv() const
    {
        return { "XDG_CONFIG_HOME=" + std::string(getenv("XDG_CONFIG_HOME")), "HOME=" + mDir.path() };
    }
    // The names of the list stored on disk, or null when nothing was stored.
    std::unique_ptr<std::vector<std::string>> storedNames() const
    {
        plist_t file = NVPlistReadFile(mPrefsFile.c_str());
        if (!file)
            return nullptr;
        auto names = std::make_unique<std::vector<std::string>>(unitNames(NVPlistDictGet(file, "DevicesList")));
        plist_free(file);
        return names;
    }

private:
    TempDir mDir;
    ScopedEnv mHome;
    ScopedEnv mConfig;
    std::string mPrefsFile;
    bool mOk = false;
};

#endif
