#ifndef NXSURFACE_CHILD_PROCESS_H
#define NXSURFACE_CHILD_PROCESS_H

// A helper process for tests that cross process boundaries: started with fork/exec, its
// standard input, output and error on pipes. Every wait has a time limit, and a child still
// running when the object goes away is killed, so a failing test never leaves one behind.

#include <string>
#include <sys/types.h>
#include <vector>

class ChildProcess {
public:
    struct Options {
        std::vector<std::string> env;   // "NAME=value" added to the inherited environment
        uid_t uid = static_cast<uid_t>(-1);   // run as this user (and its group) when set
    };

    ChildProcess() = default;
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool start(const std::vector<std::string>& argv, const Options& options);
    // Reads standard output until it holds `text`; false on end of output or time-out.
    bool waitForOutput(const std::string& text, int timeoutMs = 10000);
    void closeInput();
    void kill(int signal);
    // Collects the rest of the output and reaps the child: its exit code, 128 + signal when
    // a signal ended it, -1 on time-out (the child is then killed).
    int wait(int timeoutMs = 10000);

    const std::string& out() const { return mOut; }
    const std::string& err() const { return mErr; }

private:
    bool pump(int timeoutMs);   // one round of reading; false when both pipes are closed

    pid_t mPid = -1;
    int mIn = -1;
    int mOutFd = -1;
    int mErrFd = -1;
    std::string mOut;
    std::string mErr;
};

// Runs a child to its end and returns its exit code; output in `child`.
int runChild(ChildProcess& child, const std::vector<std::string>& argv,
             const ChildProcess::Options& options = {});

#endif
