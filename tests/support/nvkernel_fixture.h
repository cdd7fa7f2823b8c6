#ifndef NVKERNEL_FIXTURE_H
#define NVKERNEL_FIXTURE_H

// A private nvkerneld for one test. The constructor makes a fresh root under $TMPDIR (or
// /tmp), points $NVKERNEL_ROOT of this process at it, and starts the daemon there; the
// destructor stops the daemon, removes the root and puts $NVKERNEL_ROOT back. Devices are plugged, unplugged and
// given faults through the daemon's control commands (README, "Using nvkerneld"):
//
//   NVKernelFixture kernel;
//   ASSERT_TRUE(kernel.running());
//   int qm7 = kernel.plugQM7("--fw 1.4.0 --kernel A");
//   kernel.fault(qm7, "write-fail 17");
//   kernel.replug(qm7);
//
// Header-only; link the CMake target nvkernel_testsupport.

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <dirent.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

class NVKernelFixture {
public:
    // Starts the daemon at once unless start is false (then call start()).
    explicit NVKernelFixture(bool startNow = true)
    {
        const char* tmp = getenv("TMPDIR");
        std::string base = tmp && *tmp && strlen(tmp) < 48 ? tmp : "/tmp";
        std::string pattern = base + "/nvk-XXXXXX";
        if (mkdtemp(&pattern[0]))
            mRoot = pattern;
        const char* previous = getenv("NVKERNEL_ROOT");
        mHadRoot = previous != nullptr;
        if (previous)
            mPreviousRoot = previous;
        if (!mRoot.empty())
            setenv("NVKERNEL_ROOT", mRoot.c_str(), 1);
        if (startNow)
            start();
    }

    ~NVKernelFixture()
    {
        stop();
        if (!mRoot.empty())
            removeTree(mRoot);
        if (mHadRoot)
            setenv("NVKERNEL_ROOT", mPreviousRoot.c_str(), 1);
        else
            unsetenv("NVKERNEL_ROOT");
    }

    NVKernelFixture(const NVKernelFixture&) = delete;
    NVKernelFixture& operator=(const NVKernelFixture&) = delete;

    static const char* daemonPath() { return NVKERNELD_PATH; }
    const std::string& root() const { return mRoot; }
    pid_t pid() const { return mPid; }
    bool running() const { return mPid > 0; }

    // Starts the daemon on the root and waits (up to 5 s) until it answers. Extra
    // arguments, e.g. "--plug" "qm7 --fw 1.4.0", go on its command line.
    bool start(const char* arg1 = nullptr, const char* arg2 = nullptr)
    {
        std::vector<std::string> args;
        if (arg1)
            args.push_back(arg1);
        if (arg1 && arg2)
            args.push_back(arg2);
        return start(args);
    }
    // The same with any number of arguments: {"--plug", "qm7", "--plug", "halvorne"}.
    bool start(const std::vector<std::string>& args)
    {
        if (mPid > 0 || mRoot.empty())
            return mPid > 0;
        std::vector<const char*> argv = {daemonPath(), "--root", mRoot.c_str(), "--quiet"};
        for (const std::string& arg : args)
            argv.push_back(arg.c_str());
        argv.push_back(nullptr);
        pid_t child = fork();
        if (child == 0) {
            execv(daemonPath(), const_cast<char* const*>(argv.data()));
            _exit(127);
        }
        if (child < 0)
            return false;
        mPid = child;
        for (int i = 0; i < 500; ++i) {
            if (ctl("list").compare(0, 2, "ok") == 0)
                return true;
            int status = 0;
            if (waitpid(mPid, &status, WNOHANG) == mPid) {
                mPid = -1;
                return false;
            }
            sleepMs(10);
        }
        kill();
        return false;
    }

    // SIGTERM and wait (SIGKILL after 5 s). True when the daemon exited with status 0.
    bool stop() { return signalAndWait(SIGTERM); }
    // SIGINT and wait, like stop().
    bool interrupt() { return signalAndWait(SIGINT); }
    // SIGKILL: the daemon dies without taking its services away.
    void kill()
    {
        if (mPid > 0) {
            ::kill(mPid, SIGKILL);
            waitpid(mPid, nullptr, 0);
            mPid = -1;
        }
    }

    // One control command; the daemon's reply ("ok …" or "error …"), or "error no daemon".
    std::string ctl(const std::string& command)
    {
        mLastReply = "error no daemon";
        std::string path = mRoot + "/.control";
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        if (path.size() >= sizeof address.sun_path)
            return mLastReply;
        memcpy(address.sun_path, path.c_str(), path.size() + 1);
        int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
        if (fd < 0)
            return mLastReply;
        if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
            send(fd, command.data(), command.size(), MSG_NOSIGNAL) == ssize_t(command.size())) {
            pollfd p{fd, POLLIN, 0};
            std::string reply(1 << 16, '\0');
            ssize_t n = poll(&p, 1, 10000) == 1 ? recv(fd, &reply[0], reply.size(), 0) : -1;
            if (n > 0)
                mLastReply = reply.substr(0, size_t(n));
        }
        close(fd);
        return mLastReply;
    }
    const std::string& lastReply() const { return mLastReply; }
    // True when the command's reply starts with "ok".
    bool ctlOk(const std::string& command) { return ctl(command).compare(0, 2, "ok") == 0; }

    // New devices; options as for "plug" ("--fw 1.4.0 --kernel A --driver-major 1 …").
    // The device number, or -1 (lastReply() says why).
    int plugQM7(const std::string& options = std::string()) { return plugNew("qm7 " + options); }
    int plugHalvorne(const std::string& options = std::string()) { return plugNew("halvorne " + options); }

    bool unplug(int device) { return ctlOk("unplug " + std::to_string(device)); }
    bool plug(int device) { return ctlOk("plug " + std::to_string(device)); }
    // Unplugs and plugs back after delayMs (0: at once).
    bool replug(int device, int delayMs = 0)
    {
        return ctlOk("replug " + std::to_string(device) + " " + std::to_string(delayMs));
    }
    // A fault with its arguments, e.g. "write-fail 17", "short-answer 23 100", "clear".
    bool fault(int device, const std::string& fault) { return ctlOk("fault " + std::to_string(device) + " " + fault); }
    // The driver's notice: message 0xE0000130 with the words 36 and code.
    bool notice(int device, uint32_t code)
    {
        return ctlOk("notice " + std::to_string(device) + " " + std::to_string(code));
    }

    // The device's current entry id (its service's handle), 0 when it is not plugged in.
    uint32_t entryId(int device)
    {
        std::string list = ctl("list");
        std::string key = "\ndevice " + std::to_string(device) + " entry ";
        size_t at = list.find(key);
        return at == std::string::npos ? 0 : uint32_t(strtoul(list.c_str() + at + key.size(), nullptr, 10));
    }

    // Polls the condition every 5 ms for up to timeoutMs.
    template <class F>
    static bool waitFor(F condition, int timeoutMs = 5000)
    {
        for (int waited = 0;; waited += 5) {
            if (condition())
                return true;
            if (waited >= timeoutMs)
                return false;
            sleepMs(5);
        }
    }

    // Names in the root (hidden ones too); empty after a clean exit.
    std::string rootListing() const
    {
        std::string names;
        if (DIR* dir = opendir(mRoot.c_str())) {
            while (dirent* e = readdir(dir))
                if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0)
                    names += std::string(names.empty() ? "" : " ") + e->d_name;
            closedir(dir);
        }
        return names;
    }

    static void sleepMs(int ms)
    {
        timespec ts{ms / 1000, (ms % 1000) * 1000000L};
        while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
        }
    }

private:

    int plugNew(const std::string& spec)
    {
        std::string reply = ctl("plug " + spec);
        return reply.compare(0, 10, "ok device ") == 0 ? atoi(reply.c_str() + 10) : -1;
    }

    bool signalAndWait(int sig)
    {
        if (mPid <= 0)
            return false;
        ::kill(mPid, sig);
        int status = 0;
        bool exited = false;
        for (int i = 0; i < 1000 && !exited; ++i) {
            exited = waitpid(mPid, &status, WNOHANG) == mPid;
            if (!exited)
                sleepMs(5);
        }
        if (!exited) {
            ::kill(mPid, SIGKILL);
            waitpid(mPid, &status, 0);
        }
        mPid = -1;
        return exited && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }

    static void removeTree(const std::string& path)
    {
        struct stat st{};
        if (lstat(path.c_str(), &st) != 0)
            return;
        if (S_ISDIR(st.st_mode)) {
            if (DIR* dir = opendir(path.c_str())) {
                while (dirent* e = readdir(dir))
                    if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0)
                        removeTree(path + "/" + e->d_name);
                closedir(dir);
            }
            rmdir(path.c_str());
        } else {
            unlink(path.c_str());
        }
    }

    std::string mRoot;
    std::string mPreviousRoot;
    bool mHadRoot = false;
    pid_t mPid = -1;
    std::string mLastReply;
};

#endif
