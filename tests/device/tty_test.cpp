// The tty backend against a scripted counter served on a pseudo-terminal.
#include <fcntl.h>
#include <grp.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <deque>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/d2xx.h"
#include "platform/linux/tty/d2xx_tty.h"
#include "tests/device/pty_server.h"

namespace {

using std::chrono::milliseconds;
using tty::PortEntry;

// Answers each register query "M0r" with "M0r=XXXX" and a carriage return, a
// millisecond after the query's carriage return arrives; takes every other command
// silently.
class ScriptedCounter : public pty_server::Device {
public:
    uint16_t registers[8] = {0x0000, 0x0001, 0x0002, 0x0003, 0x0004, 0x0005, 0xBEEF, 0x00A0};
    std::vector<std::string> commands;

    void receive(const char* bytes, size_t n, uint64_t nowMicros) override {
        for (size_t i = 0; i < n; ++i) {
            if (bytes[i] != '\r') {
                partial_ += bytes[i];
                continue;
            }
            commands.push_back(partial_);
            if (partial_.size() == 3 && partial_.compare(0, 2, "M0") == 0 && partial_[2] >= '0' &&
                partial_[2] <= '7') {
                char answer[16];
                std::snprintf(answer, sizeof answer, "%s=%04X\r", partial_.c_str(),
                              registers[partial_[2] - '0']);
                answers_.push_back({nowMicros + 1000, answer});
            }
            partial_.clear();
        }
    }
    size_t readableBytes(uint64_t nowMicros) override {
        size_t n = 0;
        for (const auto& answer : answers_) {
            if (answer.readyAt <= nowMicros) {
                n += answer.bytes.size();
            }
        }
        return n;
    }
    size_t read(char* out, size_t max, uint64_t nowMicros) override {
        size_t n = 0;
        while (!answers_.empty() && answers_.front().readyAt <= nowMicros &&
               n + answers_.front().bytes.size() <= max) {
            std::memcpy(out + n, answers_.front().bytes.data(), answers_.front().bytes.size());
            n += answers_.front().bytes.size();
            answers_.pop_front();
        }
        return n;
    }

private:
    struct Answer {
        uint64_t readyAt;
        std::string bytes;
    };
    std::string partial_;
    std::deque<Answer> answers_;
};

std::vector<PortEntry> listedPorts;
std::vector<PortEntry> listTestPorts() {
    return listedPorts;
}

const char serial[] = "CTR-PTY-1";

class TtyBackend : public ::testing::Test {
protected:
    ScriptedCounter counter;
    pty_server::Server server{counter};
    std::vector<FT_HANDLE> handles;

    void SetUp() override { listPorts({{server.portName(), serial}}); }

    void TearDown() override {
        for (FT_HANDLE handle : handles) {
            FT_Close(handle);
        }
        listedPorts.clear();
        tty::setPortLister(nullptr);
    }

    static void listPorts(std::vector<PortEntry> ports) {
        listedPorts = std::move(ports);
        tty::setPortLister(listTestPorts);
    }

    FT_STATUS open(const char* serialNumber, FT_HANDLE* handle) {
        FT_STATUS status =
            FT_OpenEx(const_cast<char*>(serialNumber), FT_OPEN_BY_SERIAL_NUMBER, handle);
        if (status == FT_OK) {
            handles.push_back(*handle);
        }
        return status;
    }

    FT_HANDLE openCounter() {
        FT_HANDLE handle = nullptr;
        EXPECT_EQ(open(serial, &handle), FT_OK);
        EXPECT_NE(handle, nullptr);
        return handle;
    }

    static FT_STATUS write(FT_HANDLE handle, const std::string& bytes) {
        DWORD written = 0;
        FT_STATUS status = FT_Write(handle, const_cast<char*>(bytes.data()),
                                    static_cast<DWORD>(bytes.size()), &written);
        EXPECT_EQ(written, status == FT_OK ? bytes.size() : 0u);
        return status;
    }

    static DWORD pending(FT_HANDLE handle) {
        DWORD rx = 99, tx = 99, events = 99;
        EXPECT_EQ(FT_GetStatus(handle, &rx, &tx, &events), FT_OK);
        return rx;
    }

    // Waits, a bounded while, until at least `count` bytes are pending.
    static DWORD awaitPending(FT_HANDLE handle, DWORD count) {
        DWORD rx = 0;
        for (int i = 0; i < 2000 && (rx = pending(handle)) < count; ++i) {
            std::this_thread::sleep_for(milliseconds(1));
        }
        return rx;
    }

    std::vector<std::string> commandsTaken() {
        std::vector<std::string> taken;
        server.withDevice([&](pty_server::Device&) { taken = counter.commands; });
        return taken;
    }

    // The port held by another program: its own open file, locked.
    int holdPortElsewhere() {
        int fd = ::open(server.portName().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        EXPECT_GE(fd, 0);
        EXPECT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0);
        return fd;
    }
};

TEST_F(TtyBackend, ListsPortsSortedByNameWithTheirSerialNumbers) {
    listPorts({{"/dev/ttyUSB1", "B"}, {"/dev/ttyACM0", "A"}, {"/dev/ttyUSB0", "C"}});
    DWORD count = 0;
    ASSERT_EQ(FT_ListDevices(&count, nullptr, FT_LIST_NUMBER_ONLY), FT_OK);
    EXPECT_EQ(count, 3u);
    const char* expected[] = {"A", "C", "B"};
    for (uintptr_t index = 0; index < 3; ++index) {
        char buffer[d2xxSerialNumberSize] = {};
        ASSERT_EQ(FT_ListDevices(reinterpret_cast<PVOID>(index), buffer,
                                 FT_LIST_BY_INDEX | FT_OPEN_BY_SERIAL_NUMBER),
                  FT_OK);
        EXPECT_STREQ(buffer, expected[index]);
    }
    char buffer[d2xxSerialNumberSize] = "untouched";
    EXPECT_EQ(FT_ListDevices(reinterpret_cast<PVOID>(uintptr_t{3}), buffer,
                             FT_LIST_BY_INDEX | FT_OPEN_BY_SERIAL_NUMBER),
              FT_DEVICE_NOT_FOUND);
    EXPECT_STREQ(buffer, "untouched");
}

TEST_F(TtyBackend, ListingRejectsMissingArgumentsAndOtherRequests) {
    EXPECT_EQ(FT_ListDevices(nullptr, nullptr, FT_LIST_NUMBER_ONLY), FT_INVALID_PARAMETER);
    EXPECT_EQ(FT_ListDevices(nullptr, nullptr, FT_LIST_BY_INDEX | FT_OPEN_BY_SERIAL_NUMBER),
              FT_INVALID_PARAMETER);
    DWORD count = 0;
    EXPECT_EQ(FT_ListDevices(&count, nullptr, 0), FT_INVALID_PARAMETER);
}

TEST_F(TtyBackend, NoPortsListsNoDevices) {
    listPorts({});
    DWORD count = 7;
    EXPECT_EQ(FT_ListDevices(&count, nullptr, FT_LIST_NUMBER_ONLY), FT_OK);
    EXPECT_EQ(count, 0u);
}

TEST_F(TtyBackend, PortPluggedInIsListedOnceTheKeptListIsOld) {
    listPorts({});
    DWORD count = 0;
    ASSERT_EQ(FT_ListDevices(&count, nullptr, FT_LIST_NUMBER_ONLY), FT_OK);
    ASSERT_EQ(count, 0u);
    listedPorts = {{server.portName(), serial}};
    std::this_thread::sleep_for(2 * tty::rescanInterval);
    ASSERT_EQ(FT_ListDevices(&count, nullptr, FT_LIST_NUMBER_ONLY), FT_OK);
    EXPECT_EQ(count, 1u);
}

TEST_F(TtyBackend, OverlongSerialNumberNeverOverrunsTheCallersBuffer) {
    const std::string longSerial(200, 'S');
    listPorts({{server.portName(), longSerial}});
    unsigned char buffer[3 * d2xxSerialNumberSize];
    std::memset(buffer, 0x5A, sizeof buffer);
    ASSERT_EQ(FT_ListDevices(nullptr, buffer, FT_LIST_BY_INDEX | FT_OPEN_BY_SERIAL_NUMBER), FT_OK);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer)),
              longSerial.substr(0, d2xxSerialNumberSize - 1));
    for (size_t i = d2xxSerialNumberSize; i < sizeof buffer; ++i) {
        ASSERT_EQ(buffer[i], 0x5A) << "byte " << i;
    }
    // The cut serial number is the one the port opens by.
    FT_HANDLE handle = nullptr;
    EXPECT_EQ(open(reinterpret_cast<char*>(buffer), &handle), FT_OK);
}

TEST_F(TtyBackend, OpensBySerialNumberOnlyAKnownOne) {
    FT_HANDLE handle = reinterpret_cast<FT_HANDLE>(uintptr_t{0x1234});
    EXPECT_EQ(open("NO-SUCH-COUNTER", &handle), FT_DEVICE_NOT_FOUND);
    EXPECT_EQ(handle, reinterpret_cast<FT_HANDLE>(uintptr_t{0x1234}));
    EXPECT_EQ(FT_OpenEx(const_cast<char*>(serial), 2, &handle), FT_INVALID_PARAMETER);
    EXPECT_EQ(FT_OpenEx(nullptr, FT_OPEN_BY_SERIAL_NUMBER, &handle), FT_INVALID_PARAMETER);
    EXPECT_EQ(FT_OpenEx(const_cast<char*>(serial), FT_OPEN_BY_SERIAL_NUMBER, nullptr),
              FT_INVALID_PARAMETER);
    openCounter();
}

TEST_F(TtyBackend, OpenLeavesTheLinkAt9600Baud8N1WithoutFlowControl) {
    openCounter();
    termios settings{};
    ASSERT_EQ(tcgetattr(server.portDescriptor(), &settings), 0);
    EXPECT_EQ(cfgetispeed(&settings), B9600);
    EXPECT_EQ(cfgetospeed(&settings), B9600);
    EXPECT_EQ(settings.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(settings.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(settings.c_iflag & (IXON | IXOFF | ICRNL | INLCR | ISTRIP), 0u);
    EXPECT_EQ(settings.c_oflag & OPOST, 0u);
    EXPECT_EQ(settings.c_lflag & (ICANON | ECHO | ISIG), 0u);
}

TEST_F(TtyBackend, QueriesAreAnsweredThroughThePort) {
    FT_HANDLE handle = openCounter();
    EXPECT_EQ(FT_SetChars(handle, 13, 1, 0, 0), FT_OK);
    EXPECT_EQ(FT_SetTimeouts(handle, 100, 100), FT_OK);
    EXPECT_EQ(pending(handle), 0u);
    for (const char* query : {"M00\r", "M01\r", "M02\r", "M03\r", "M06\r", "M07\r"}) {
        EXPECT_EQ(write(handle, query), FT_OK);
    }
    ASSERT_EQ(awaitPending(handle, 54), 54u);
    char frame[128];
    DWORD got = 0;
    ASSERT_EQ(FT_Read(handle, frame, 54, &got), FT_OK);
    ASSERT_EQ(got, 54u);
    EXPECT_EQ(std::string(frame, 54),
              "M00=0000\rM01=0001\rM02=0002\rM03=0003\rM06=BEEF\rM07=00A0\r");
    EXPECT_EQ(pending(handle), 0u);
    EXPECT_EQ(commandsTaken(),
              (std::vector<std::string>{"M00", "M01", "M02", "M03", "M06", "M07"}));
}

TEST_F(TtyBackend, ReadWaitsUpToItsTimeOutForWhatIsMissing) {
    FT_HANDLE handle = openCounter();
    ASSERT_EQ(FT_SetTimeouts(handle, 20, 100), FT_OK);
    char buffer[32];
    DWORD got = 99;
    EXPECT_EQ(FT_Read(handle, buffer, sizeof buffer, &got), FT_OK);
    EXPECT_EQ(got, 0u);

    // One answer of 9 bytes arrives; asking for more returns those 9 once the time is up.
    ASSERT_EQ(FT_SetTimeouts(handle, 500, 100), FT_OK);
    ASSERT_EQ(write(handle, "M07\r"), FT_OK);
    EXPECT_EQ(FT_Read(handle, buffer, sizeof buffer, &got), FT_OK);
    EXPECT_EQ(std::string(buffer, got), "M07=00A0\r");

    // A read of what is there returns at once with all of it.
    ASSERT_EQ(write(handle, "M06\r"), FT_OK);
    ASSERT_EQ(awaitPending(handle, 9), 9u);
    EXPECT_EQ(FT_Read(handle, buffer, 9, &got), FT_OK);
    EXPECT_EQ(std::string(buffer, got), "M06=BEEF\r");
}

TEST_F(TtyBackend, ASecondOpenOfAnOpenPortFails) {
    FT_HANDLE first = openCounter();
    FT_HANDLE second = nullptr;
    EXPECT_EQ(open(serial, &second), FT_DEVICE_NOT_OPENED);
    EXPECT_EQ(second, nullptr);
    // The first handle is unharmed.
    ASSERT_EQ(write(first, "M07\r"), FT_OK);
    EXPECT_EQ(awaitPending(first, 9), 9u);
    // Nobody else gets the port either while it is open.
    int elsewhere = ::open(server.portName().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (elsewhere >= 0) {  // only root passes the tty's exclusive flag
        EXPECT_NE(flock(elsewhere, LOCK_EX | LOCK_NB), 0);
        close(elsewhere);
    } else {
        EXPECT_EQ(errno, EBUSY);
    }
    // Once closed, it opens again.
    ASSERT_EQ(FT_Close(first), FT_OK);
    handles.clear();
    openCounter();
}

TEST_F(TtyBackend, APortHeldByAnotherProgramIsReportedOnce) {
    int elsewhere = holdPortElsewhere();
    FT_HANDLE handle = nullptr;
    testing::internal::CaptureStderr();
    EXPECT_EQ(open(serial, &handle), FT_DEVICE_NOT_OPENED);
    std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(handle, nullptr);
    EXPECT_NE(said.find(server.portName()), std::string::npos) << said;
    EXPECT_NE(said.find("in use by another program"), std::string::npos) << said;
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
    close(elsewhere);
    openCounter();
}

TEST_F(TtyBackend, PermissionDeniedNamesThePortAndTheRemedy) {
    std::string said;
    FT_STATUS status = FT_OK;
    if (geteuid() != 0) {
        ASSERT_EQ(chmod(server.portName().c_str(), 0), 0);
        FT_HANDLE handle = nullptr;
        testing::internal::CaptureStderr();
        status = open(serial, &handle);
        said = testing::internal::GetCapturedStderr();
        chmod(server.portName().c_str(), 0620);
    } else {
        // Root opens anything: ask as an unprivileged user in a child process.
        int pipeEnds[2];
        ASSERT_EQ(pipe(pipeEnds), 0);
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            dup2(pipeEnds[1], STDERR_FILENO);
            FT_HANDLE handle = nullptr;
            if (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0) {
                _exit(100);
            }
            _exit(static_cast<int>(
                FT_OpenEx(const_cast<char*>(serial), FT_OPEN_BY_SERIAL_NUMBER, &handle)));
        }
        close(pipeEnds[1]);
        char buffer[512];
        ssize_t got;
        while ((got = read(pipeEnds[0], buffer, sizeof buffer)) > 0) {
            said.append(buffer, static_cast<size_t>(got));
        }
        close(pipeEnds[0]);
        int exitStatus = 0;
        ASSERT_EQ(waitpid(child, &exitStatus, 0), child);
        ASSERT_TRUE(WIFEXITED(exitStatus));
        status = static_cast<FT_STATUS>(WEXITSTATUS(exitStatus));
    }
    EXPECT_EQ(status, FT_DEVICE_NOT_OPENED);
    EXPECT_NE(said.find(server.portName()), std::string::npos) << said;
    EXPECT_NE(said.find("usermod -aG"), std::string::npos) << said;
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
}

TEST_F(TtyBackend, BadHandlesAreRefusedWithoutEffect) {
    FT_HANDLE closed = openCounter();
    ASSERT_EQ(FT_Close(closed), FT_OK);
    handles.clear();
    FT_HANDLE open = openCounter();
    const FT_HANDLE bad[] = {nullptr, closed, reinterpret_cast<FT_HANDLE>(uintptr_t{0xdead})};
    for (FT_HANDLE handle : bad) {
        SCOPED_TRACE(handle);
        char buffer[16] = "M07\r";
        DWORD count = 77, tx = 77, events = 77;
        EXPECT_EQ(FT_SetChars(handle, 13, 1, 0, 0), FT_INVALID_HANDLE);
        EXPECT_EQ(FT_SetTimeouts(handle, 100, 100), FT_INVALID_HANDLE);
        EXPECT_EQ(FT_Write(handle, buffer, 4, &count), FT_INVALID_HANDLE);
        EXPECT_EQ(FT_GetStatus(handle, &count, &tx, &events), FT_INVALID_HANDLE);
        EXPECT_EQ(FT_Read(handle, buffer, 4, &count), FT_INVALID_HANDLE);
        EXPECT_EQ(FT_Close(handle), FT_INVALID_HANDLE);
    }
    // Nothing reached the counter, and the open handle still works.
    EXPECT_EQ(pending(open), 0u);
    ASSERT_EQ(write(open, "M01\r"), FT_OK);
    EXPECT_EQ(awaitPending(open, 9), 9u);
    EXPECT_EQ(commandsTaken(), std::vector<std::string>{"M01"});
}

TEST_F(TtyBackend, UnpluggedPortFailsEveryCallAtOnceAndReportsNothingPending) {
    FT_HANDLE handle = openCounter();
    ASSERT_EQ(FT_SetTimeouts(handle, 100, 100), FT_OK);
    ASSERT_EQ(write(handle, "M07\r"), FT_OK);
    ASSERT_EQ(awaitPending(handle, 9), 9u);
    server.unplug();
    for (int round = 0; round < 3; ++round) {
        DWORD rx = 99, tx = 99, events = 99;
        EXPECT_EQ(FT_GetStatus(handle, &rx, &tx, &events), FT_IO_ERROR);
        EXPECT_EQ(rx, 0u);
        EXPECT_EQ(tx, 0u);
        char buffer[16];
        DWORD got = 99;
        EXPECT_EQ(FT_Read(handle, buffer, sizeof buffer, &got), FT_IO_ERROR);
        EXPECT_EQ(got, 0u);
        EXPECT_EQ(FT_Write(handle, buffer, 4, &got), FT_IO_ERROR);
        EXPECT_EQ(got, 0u);
        EXPECT_EQ(FT_SetChars(handle, 13, 1, 0, 0), FT_IO_ERROR);
    }
    EXPECT_EQ(FT_Close(handle), FT_OK);
    handles.clear();
    EXPECT_EQ(FT_Close(handle), FT_INVALID_HANDLE);
}

// Only USB-to-serial converters are ports the counter can be on: a CDC-ACM port
// belongs to some other instrument and never gets the counter's commands.
TEST(TtyPorts, OnlyConverterPortsCount) {
    const std::pair<const char*, bool> names[] = {
        {"/dev/ttyUSB0", true},  {"/dev/ttyUSB17", true},
        {"ttyUSB3", true},       {"/dev/ttyACM0", false},
        {"/dev/ttyS0", false},   {"/dev/ttyUSB", false},
        {"/dev/ttyUSBx", false}, {"/dev/pts/3", false},
        {"/dev/ttyAMA0", false}, {"", false},
    };
    for (const auto& [name, counts] : names) {
        EXPECT_EQ(tty::isConverterPort(name), counts) << name;
    }
    for (const PortEntry& port : tty::systemUsbPorts()) {
        EXPECT_TRUE(tty::isConverterPort(port.name)) << port.name;
    }
}

// A counter that is pulled out and plugged back in comes back as a new tty; its old
// handle stays dead, and the same serial number opens the new port.
class Replugged : public pty_server::Device {
public:
    ScriptedCounter counter;
    std::atomic<bool> off{false};
    void receive(const char* bytes, size_t n, uint64_t now) override {
        counter.receive(bytes, n, now);
    }
    size_t readableBytes(uint64_t now) override { return counter.readableBytes(now); }
    size_t read(char* out, size_t max, uint64_t now) override {
        return counter.read(out, max, now);
    }
    bool unplugged(uint64_t) const override { return off; }
};

pty_server::Server* replugServer = nullptr;
std::vector<PortEntry> listReplugged() {
    const std::string name = replugServer->portName();
    if (name.empty()) {
        return {};
    }
    return {{name, serial}};
}

TEST(TtyReplug, TheSameSerialNumberOpensThePortUnderItsNewName) {
    Replugged device;
    pty_server::Server server(device);
    replugServer = &server;
    tty::setPortLister(listReplugged);
    const std::string firstName = server.portName();
    FT_HANDLE handle = nullptr;
    ASSERT_EQ(FT_OpenEx(const_cast<char*>(serial), FT_OPEN_BY_SERIAL_NUMBER, &handle), FT_OK);

    device.off = true;
    DWORD rx = 0, tx = 0, events = 0;
    FT_STATUS status = FT_OK;
    for (int wait = 0; wait < 2000 && status == FT_OK; ++wait) {
        std::this_thread::sleep_for(milliseconds(1));
        status = FT_GetStatus(handle, &rx, &tx, &events);
    }
    EXPECT_EQ(status, FT_IO_ERROR) << "the hang-up is a loss";
    std::this_thread::sleep_for(milliseconds(20));
    DWORD count = 99;
    ASSERT_EQ(FT_ListDevices(&count, nullptr, FT_LIST_NUMBER_ONLY), FT_OK);
    EXPECT_EQ(count, 0u);

    device.off = false;
    for (int wait = 0; wait < 2000 && server.replugs() == 0; ++wait) {
        std::this_thread::sleep_for(milliseconds(1));
    }
    ASSERT_EQ(server.replugs(), 1);
    EXPECT_NE(server.portName(), firstName);
    std::this_thread::sleep_for(milliseconds(20));
    ASSERT_EQ(FT_ListDevices(&count, nullptr, FT_LIST_NUMBER_ONLY), FT_OK);
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(FT_GetStatus(handle, &rx, &tx, &events), FT_IO_ERROR) << "the old handle stays dead";
    FT_HANDLE again = nullptr;
    ASSERT_EQ(FT_OpenEx(const_cast<char*>(serial), FT_OPEN_BY_SERIAL_NUMBER, &again), FT_OK);
    char query[] = "M06\r";
    DWORD written = 0;
    ASSERT_EQ(FT_Write(again, query, 4, &written), FT_OK);
    for (int wait = 0; wait < 2000 && rx < 9; ++wait) {
        std::this_thread::sleep_for(milliseconds(1));
        ASSERT_EQ(FT_GetStatus(again, &rx, &tx, &events), FT_OK);
    }
    EXPECT_EQ(rx, 9u);
    EXPECT_EQ(FT_Close(handle), FT_OK);
    EXPECT_EQ(FT_Close(again), FT_OK);
    tty::setPortLister(nullptr);
    replugServer = nullptr;
}

}  // namespace
