// The privileged helper of the authorization layer: runs as root, reads launch requests from
// the socket on its standard input, starts each tool with execv and exactly the given
// argument vector, answers whether the tool could be executed, and never waits for a tool.

#include "AuthorizationWire.h"

#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <vector>

namespace {

void reapChildren(int)
{
    int saved = errno;
    while (waitpid(-1, nullptr, WNOHANG) > 0) {
    }
    errno = saved;
}

// Splits the request body into an argv for execv; false when it is not count strings.
bool splitStrings(std::vector<char>& body, uint32_t count, std::vector<char*>& argv)
{
    argv.clear();
    size_t start = 0;
    for (size_t i = 0; i < body.size(); ++i) {
        if (body[i] != '\0')
            continue;
        argv.push_back(&body[start]);
        start = i + 1;
    }
    if (start != body.size() || argv.size() != count || argv[0][0] != '/')
        return false;
    argv.push_back(nullptr);
    return true;
}

// 0 when the tool was started, else the errno of its failed start.
int launch(char* const* argv)
{
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0)
        return errno;
    pid_t pid = fork();
    if (pid < 0) {
        int e = errno;
        close(report[0]);
        close(report[1]);
        return e;
    }
    if (pid == 0) {
        execv(argv[0], argv);
        int e = errno;
        ssize_t ignored = write(report[1], &e, sizeof e);
        (void)ignored;
        _exit(127);
    }
    close(report[1]);
    int e = 0;
    // End of file without a word: execv succeeded and closed the report pipe.
    if (!authWireRead(report[0], &e, sizeof e))
        e = 0;
    close(report[0]);
    return e;
}

} // namespace

int main()
{
    struct stat st {};
    if (fstat(STDIN_FILENO, &st) != 0 || !S_ISSOCK(st.st_mode)) {
        fprintf(stderr, "%s: started only by the authorization layer of its program\n",
                kAuthHelperName);
        return 2;
    }
    // Keep the channel away from the tools: they get /dev/null as standard input and
    // share the helper's standard output and error.
    int channel = fcntl(STDIN_FILENO, F_DUPFD_CLOEXEC, 3);
    int devnull = open("/dev/null", O_RDONLY);
    if (channel < 0 || devnull < 0 || dup2(devnull, STDIN_FILENO) < 0)
        return 3;
    close(devnull);

    struct sigaction sa {};
    sa.sa_handler = reapChildren;
    sa.sa_flags = SA_RESTART | SA_NOCLDSTOP;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGCHLD, &sa, nullptr);

    if (!authWireWrite(channel, kAuthWireReady, sizeof kAuthWireReady))
        return 0;

    std::vector<char> body;
    std::vector<char*> argv;
    for (;;) {
        AuthWireRequest request {};
        if (!authWireRead(channel, &request, sizeof request))
            break;
        if (request.bytes == 0 || request.bytes > kAuthWireMaxBytes || request.count == 0
            || request.count > kAuthWireMaxStrings)
            break; // not our client: stop rather than guess where the next request starts
        body.assign(request.bytes, '\0');
        if (!authWireRead(channel, body.data(), body.size()))
            break;
        int32_t answer = splitStrings(body, request.count, argv) ? launch(argv.data()) : EINVAL;
        if (!authWireWrite(channel, &answer, sizeof answer))
            break;
    }
    reapChildren(0);
    return 0;
}
