#include "child_process.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

void closeFd(int& fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

long long nowMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

} // namespace

ChildProcess::~ChildProcess()
{
    if (mPid > 0) {
        ::kill(mPid, SIGKILL);
        waitpid(mPid, nullptr, 0);
    }
    closeFd(mIn);
    closeFd(mOutFd);
    closeFd(mErrFd);
}

bool ChildProcess::start(const std::vector<std::string>& argv, const Options& options)
{
    int in[2] = { -1, -1 }, out[2] = { -1, -1 }, err[2] = { -1, -1 };
    auto closeAll = [&] {
        for (int* fd : { &in[0], &in[1], &out[0], &out[1], &err[0], &err[1] })
            closeFd(*fd);
    };
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) {
        closeAll();
        return false;
    }

    // Everything the child needs is built before fork: only async-signal-safe calls after it.
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    std::vector<std::string> envStrings;
    for (char** e = environ; *e; ++e)
        envStrings.emplace_back(*e);
    envStrings.insert(envStrings.end(), options.env.begin(), options.env.end());
    std::vector<char*> env;
    for (std::string& e : envStrings)
        env.push_back(&e[0]);
    env.push_back(nullptr);

    mPid = fork();
    if (mPid < 0) {
        closeAll();
        return false;
    }
    if (mPid == 0) {
        dup2(in[0], 0);
        dup2(out[1], 1);
        dup2(err[1], 2);
        if (options.uid != static_cast<uid_t>(-1)
            && (setgid(options.uid) != 0 || setuid(options.uid) != 0))
            _exit(126);
        execve(args[0], args.data(), env.data());
        _exit(127);
    }
    ::close(in[0]);
    ::close(out[1]);
    ::close(err[1]);
    mIn = in[1];
    mOutFd = out[0];
    mErrFd = err[0];
    return true;
}

bool ChildProcess::pump(int timeoutMs)
{
    pollfd fds[2] = { { mOutFd, POLLIN, 0 }, { mErrFd, POLLIN, 0 } };
    if (mOutFd < 0 && mErrFd < 0)
        return false;
    if (poll(fds, 2, timeoutMs) <= 0)
        return true;
    std::string* sinks[2] = { &mOut, &mErr };
    int* owners[2] = { &mOutFd, &mErrFd };
    for (int i = 0; i < 2; ++i) {
        if (!fds[i].revents)
            continue;
        char buffer[4096];
        ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
        if (n > 0)
            sinks[i]->append(buffer, static_cast<size_t>(n));
        else if (n == 0 || errno != EINTR)
            closeFd(*owners[i]);
    }
    return true;
}

bool ChildProcess::waitForOutput(const std::string& text, int timeoutMs)
{
    long long deadline = nowMs() + timeoutMs;
    while (mOut.find(text) == std::string::npos) {
        long long left = deadline - nowMs();
        if (left <= 0 || mOutFd < 0)
            return false;
        pump(static_cast<int>(left));
    }
    return true;
}

void ChildProcess::closeInput()
{
    closeFd(mIn);
}

void ChildProcess::kill(int signal)
{
    if (mPid > 0)
        ::kill(mPid, signal);
}

int ChildProcess::wait(int timeoutMs)
{
    if (mPid <= 0)
        return -1;
    long long deadline = nowMs() + timeoutMs;
    while (nowMs() < deadline && pump(static_cast<int>(deadline - nowMs()))) {
    }
    int status = 0;
    pid_t done = 0;
    while ((done = waitpid(mPid, &status, WNOHANG)) == 0 && nowMs() < deadline)
        usleep(5000);
    if (done != mPid) {
        ::kill(mPid, SIGKILL);
        waitpid(mPid, nullptr, 0);
        mPid = -1;
        return -1;
    }
    mPid = -1;
    closeInput();
    if (WIFSIGNALED(status))
        return 128 + WTERMSIG(status);
    return WEXITSTATUS(status);
}

int runChild(ChildProcess& child, const std::vector<std::string>& argv,
             const ChildProcess::Options& options)
{
    if (!child.start(argv, options))
        return -1;
    child.closeInput();
    return child.wait();
}
