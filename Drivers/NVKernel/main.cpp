// nvkerneld: the kernel-driver stand-in.
//   nvkerneld [--root DIR] [--plug "qm7|halvorne [options]"]... [--quiet]
//   nvkerneld ctl [--root DIR] COMMAND [ARGS]...

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "daemon.h"

namespace {

int usage()
{
    fprintf(stderr,
            "usage: nvkerneld [--root DIR] [--plug \"qm7|halvorne [options]\"]... [--quiet]\n"
            "       nvkerneld ctl [--root DIR] COMMAND [ARGS]...   (nvkerneld ctl help)\n");
    return 2;
}

int controlCommand(const std::string& root, const std::string& line)
{
    std::string path = root + "/" + nvk::kControlSocket;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) {
        fprintf(stderr, "nvkerneld ctl: root path too long: %s\n", root.c_str());
        return 1;
    }
    memcpy(address.sun_path, path.c_str(), path.size() + 1);
    int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (fd < 0 || connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        fprintf(stderr, "nvkerneld ctl: no nvkerneld serves %s\n", root.c_str());
        if (fd >= 0)
            close(fd);
        return 1;
    }
    std::vector<char> reply(1 << 16);
    ssize_t n = -1;
    if (send(fd, line.data(), line.size(), MSG_NOSIGNAL) == ssize_t(line.size())) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 10000) == 1)
            n = recv(fd, reply.data(), reply.size(), 0);
    }
    close(fd);
    if (n <= 0) {
        fprintf(stderr, "nvkerneld ctl: no answer from nvkerneld\n");
        return 1;
    }
    std::string text(reply.data(), size_t(n));
    printf("%s\n", text.c_str());
    return text.compare(0, 2, "ok") == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    std::string root = nvk::rootPath();
    std::vector<std::string> plugs;
    bool quiet = false;
    bool ctl = argc > 1 && strcmp(argv[1], "ctl") == 0;
    int i = ctl ? 2 : 1;
    for (; i < argc; ++i) {
        if (strcmp(argv[i], "--root") == 0 && i + 1 < argc)
            root = argv[++i];
        else if (!ctl && strcmp(argv[i], "--plug") == 0 && i + 1 < argc)
            plugs.push_back(argv[++i]);
        else if (!ctl && strcmp(argv[i], "--quiet") == 0)
            quiet = true;
        else if (ctl)
            break;
        else
            return usage();
    }
    if (root.empty() || root[0] != '/') {
        fprintf(stderr, "nvkerneld: the root must be an absolute path\n");
        return 2;
    }
    if (ctl) {
        if (i >= argc)
            return usage();
        std::string line;
        for (; i < argc; ++i)
            line += (line.empty() ? "" : " ") + std::string(argv[i]);
        return controlCommand(root, line);
    }

    nvk::Daemon daemon(root);
    if (!daemon.start())
        return 1;
    if (!quiet)
        printf("nvkerneld serving %s\n", root.c_str());
    for (const std::string& plug : plugs) {
        std::string reply = daemon.control("plug " + plug);
        if (!quiet || reply.compare(0, 2, "ok") != 0)
            printf("%s\n", reply.c_str());
    }
    fflush(stdout);
    daemon.run();
    daemon.shutdown();
    return 0;
}
