#include "device_client.h"
#include "nvk_image.h"
#include "nvkernel_protocol.h"

#include <fstream>
#include <iterator>
#include <memory>

#include <fcntl.h>
#include <sys/wait.h>
#include <string>

#include <sys/socket.h>
#include <sys/un.h>

namespace {

// A raw connection to a service's user-client socket, to send what no client layer would.
int rawConnect(const std::string& path)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    memcpy(address.sun_path, path.c_str(), path.size() + 1);
    int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// The reply's status, -1 when the daemon closed the connection, -2 on no reply within 2 s.
long rawExchange(int fd, const std::string& packet)
{
    if (send(fd, packet.data(), packet.size(), MSG_NOSIGNAL) != ssize_t(packet.size()))
        return -1;
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 2000) != 1)
        return -2;
    uint8_t reply[2048];
    ssize_t n = recv(fd, reply, sizeof reply, 0);
    if (n <= 0)
        return -1;
    nvk::MessageHeader head{};
    if (size_t(n) < sizeof head)
        return -3;
    memcpy(&head, reply, sizeof head);
    return long(head.arg);
}

std::string message(uint16_t op, uint32_t arg, size_t payload, uint32_t magic = nvk::kMagic, int sizeDelta = 0)
{
    nvk::MessageHeader head{magic, nvk::kVersion, op, arg, uint32_t(int(payload) + sizeDelta)};
    std::string packet(reinterpret_cast<const char*>(&head), sizeof head);
    packet.append(payload, '\0');
    return packet;
}

struct BadInput {
    const char* name;
    std::string packet;
    bool openFirst;
    long expected; // status, or -1 for a dropped connection
};

TEST(NVKernelDaemon, TreatsEveryClientAsUntrusted)
{
    NVKernelFixture kernel;
    int device = kernel.plugQM7();
    std::string socketPath = kernel.root() + "/NVKernelDeviceVESKQM7/" + std::to_string(kernel.entryId(device)) + "/user-client";
    const BadInput cases[] = {
        {"garbage", std::string("hello, driver"), false, -1},
        {"a short header", std::string("NVKP", 4), false, -1},
        {"an empty packet", std::string(), false, -1},
        {"a wrong magic", message(nvk::kOpOpen, 2, 0, 0x12345678), false, -1},
        {"a size that lies", message(nvk::kOpCall, 0, 260, nvk::kMagic, 4), true, nvk::kStatusBadMessage},
        {"an oversized call", message(nvk::kOpCall, 0, 8000), true, nvk::kStatusBadMessage},
        {"a call before open", message(nvk::kOpCall, 0, 260), false, nvk::kStatusNotOpen},
        {"a second open", message(nvk::kOpOpen, 2, 0), true, nvk::kStatusBadMessage},
        {"an unknown op", message(99, 0, 0), true, nvk::kStatusBadMessage},
        {"a short record", message(nvk::kOpCall, 0, 12), true, nvk::kStatusBadArgument},
        {"a record that is too long", message(nvk::kOpCall, 0, 261), true, nvk::kStatusBadArgument},
    };
    for (const BadInput& c : cases) {
        SCOPED_TRACE(c.name);
        int fd = rawConnect(socketPath);
        ASSERT_GE(fd, 0);
        if (c.openFirst) {
            ASSERT_EQ(rawExchange(fd, message(nvk::kOpOpen, 2, 0)), long(nvk::kStatusOK));
        }
        if (c.packet.empty())
            send(fd, "", 0, MSG_NOSIGNAL);
        EXPECT_EQ(c.packet.empty() ? -1 : rawExchange(fd, c.packet), c.expected);
        close(fd);
    }
    // A client that leaves in the middle of a call, and one that sends and never reads.
    int fd = rawConnect(socketPath);
    ASSERT_EQ(rawExchange(fd, message(nvk::kOpOpen, 2, 0)), long(nvk::kStatusOK));
    std::string call = message(nvk::kOpCall, 0, 260);
    send(fd, call.data(), call.size(), MSG_NOSIGNAL);
    close(fd);
    int flooder = rawConnect(socketPath);
    ASSERT_EQ(rawExchange(flooder, message(nvk::kOpOpen, 2, 0)), long(nvk::kStatusOK));
    for (int i = 0; i < 2000; ++i)
        if (send(flooder, call.data(), call.size(), MSG_NOSIGNAL | MSG_DONTWAIT) < 0)
            break;

    // The control socket too.
    EXPECT_EQ(kernel.ctl(std::string(5000, 'x')), "error command too long");
    EXPECT_EQ(kernel.ctl("plug"), "error usage: plug DEV … (see help)");
    EXPECT_EQ(kernel.ctl("unplug 99"), "error no device 99");
    EXPECT_EQ(kernel.ctl("notice 1 --type"), "error bad notice word --type");
    EXPECT_EQ(kernel.ctl(std::string("list\0\xff", 6)).compare(0, 5, "error"), 0);

    // Still serving everyone else.
    DeviceClient qm7(kernel, device);
    Record answer;
    EXPECT_EQ(qm7.call(23, &answer), kNVDSSuccess);
    EXPECT_EQ(answer.word(4), 0x01040041u);
    close(flooder);
}

TEST(NVKernelDaemon, ServesHundredsOfConnectionsAtOnce)
{
    NVKernelFixture kernel;
    int device = kernel.plugQM7();
    std::vector<std::unique_ptr<DeviceClient>> clients;
    for (int i = 0; i < 300; ++i)
        clients.push_back(std::make_unique<DeviceClient>(kernel, device));
    int answered = 0;
    for (auto& client : clients) {
        Record answer;
        answered += client->call(22, &answer) == kNVDSSuccess;
    }
    EXPECT_EQ(answered, 300);
    clients.clear();
    EXPECT_TRUE(kernel.ctlOk("list"));
}

TEST(NVKernelDaemon, LeavesNothingInTheRootAfterACleanExit)
{
    for (bool term : {true, false}) {
        SCOPED_TRACE(term ? "SIGTERM" : "SIGINT");
        NVKernelFixture kernel;
        int qm7 = kernel.plugQM7();
        kernel.plugHalvorne();
        ASSERT_TRUE(kernel.replug(qm7, 5000)); // a pending plug-in
        kernel.plugQM7();
        DeviceClient open(kernel, 3);           // an open connection
        EXPECT_NE(kernel.rootListing(), "");
        EXPECT_TRUE(term ? kernel.stop() : kernel.interrupt());
        EXPECT_EQ(kernel.rootListing(), "");
    }
}

TEST(NVKernelDaemon, ClearsStaleServicesAndRefusesASecondDaemon)
{
    NVKernelFixture kernel;
    kernel.plugQM7();
    kernel.kill();
    EXPECT_NE(kernel.rootListing(), ""); // a crash leaves its services behind
    ASSERT_TRUE(kernel.start());
    EXPECT_EQ(kernel.rootListing(), ".control");

    pid_t child = fork();
    if (child == 0) {
        int null = open("/dev/null", O_WRONLY);
        dup2(null, 2);
        execl(NVKernelFixture::daemonPath(), NVKernelFixture::daemonPath(), "--root", kernel.root().c_str(), "--quiet",
              (char*)nullptr);
        _exit(127);
    }
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1);
    EXPECT_TRUE(kernel.ctlOk("list")); // the first one still serves
}

TEST(NVKernelDaemon, ControlCommandPrintsTheReplyAndExitsByIt)
{
    NVKernelFixture kernel;
    auto run = [&](const std::string& args, std::string* out) {
        std::string command = std::string(NVKernelFixture::daemonPath()) + " ctl --root " + kernel.root() + " " + args + " 2>&1";
        FILE* pipe = popen(command.c_str(), "r");
        char buffer[4096];
        size_t n = fread(buffer, 1, sizeof buffer, pipe);
        out->assign(buffer, n);
        return WEXITSTATUS(pclose(pipe));
    };
    std::string out;
    EXPECT_EQ(run("plug qm7 --fw 1.3.9", &out), 0);
    EXPECT_EQ(out, "ok device 1 entry 4096\n");
    EXPECT_EQ(run("list", &out), 0);
    EXPECT_NE(out.find("device 1 entry 4096 qm7 fw 1.3.9:A"), std::string::npos);
    EXPECT_EQ(run("fault 1 nonsense", &out), 1);
    EXPECT_EQ(out, "error unknown fault nonsense\n");
    kernel.stop();
    EXPECT_EQ(run("list", &out), 1);
    EXPECT_NE(out.find("no nvkerneld serves"), std::string::npos);
}

TEST(FirmwareImage, GeneratorWritesHeaderAndACheckedPayload)
{
    NVKernelFixture kernel(false); // only for its temporary folder
    std::string path = kernel.root() + "/image.bin";
    std::string command = std::string(NVFWIMAGE_PATH) + " " + path + " 1.4.1:A 9";
    ASSERT_EQ(system(command.c_str()), 0);
    std::ifstream file(path, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    ASSERT_EQ(bytes.size(), 8u + 6144u);
    EXPECT_EQ(bytes.substr(0, 8), "1041009A");
    nvk::FirmwareVersion version;
    ASSERT_TRUE(nvk::readDescriptor(reinterpret_cast<const uint8_t*>(bytes.data()) + 8, 6144, &version));
    EXPECT_EQ(nvk::versionText(version), "1.4.1:A");
    EXPECT_EQ(version.build, 9);
    bytes[8 + 3000] ^= 1;
    EXPECT_FALSE(nvk::readDescriptor(reinterpret_cast<const uint8_t*>(bytes.data()) + 8, 6144, &version));

    EXPECT_NE(system((std::string(NVFWIMAGE_PATH) + " " + path + " 12.0.0 2>/dev/null").c_str()), 0);
}

} // namespace
