#ifndef NXSURFACE_TEMP_DIR_H
#define NXSURFACE_TEMP_DIR_H

// A fresh directory under $TMPDIR (or /tmp), removed with everything in it at the end.

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

class TempDir {
public:
    TempDir()
    {
        const char* base = getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/nxsurface.XXXXXX";
        if (mkdtemp(&pattern[0]))
            mPath = pattern;
    }
    ~TempDir()
    {
        if (!mPath.empty())
            std::system(("rm -rf '" + mPath + "'").c_str());
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return mPath; }
    std::string file(const std::string& name) const { return mPath + "/" + name; }

private:
    std::string mPath;
};

inline bool writeFile(const std::string& path, const std::string& contents)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << contents;
    return bool(out);
}

inline std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

#endif
