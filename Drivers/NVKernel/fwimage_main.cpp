// Writes a firmware image file of the simulated QM7: nvfwimage OUTPUT [MAJOR.REVISION.STAGE[:TAG]] [BUILD]

#include <cstdio>
#include <cstdlib>
#include <string>

#include "nvk_image.h"

int main(int argc, char** argv)
{
    if (argc < 2 || argc > 4) {
        fprintf(stderr, "usage: nvfwimage OUTPUT [MAJOR.REVISION.STAGE[:TAG]] [BUILD]\n");
        return 2;
    }
    nvk::FirmwareVersion version; // 1.4.0:A
    version.stage = 1;
    version.build = 9;
    if (argc > 2 && !nvk::parseVersion(argv[2], &version)) {
        fprintf(stderr, "nvfwimage: bad version %s\n", argv[2]);
        return 2;
    }
    if (argc > 3)
        version.build = static_cast<uint16_t>(strtoul(argv[3], nullptr, 10) % 1000);
    if (version.major > 9 || version.revision > 99) {
        fprintf(stderr, "nvfwimage: the header holds one major digit and two revision digits\n");
        return 2;
    }
    std::string file = nvk::makeImageFile(version);
    std::string temp = std::string(argv[1]) + ".tmp";
    FILE* out = fopen(temp.c_str(), "wb");
    bool ok = out && fwrite(file.data(), 1, file.size(), out) == file.size();
    ok = out && fclose(out) == 0 && ok;
    if (!ok || rename(temp.c_str(), argv[1]) != 0) {
        fprintf(stderr, "nvfwimage: cannot write %s\n", argv[1]);
        remove(temp.c_str());
        return 1;
    }
    return 0;
}
