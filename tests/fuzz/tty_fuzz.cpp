// The measurement cycle reading from a real tty: the counter's side of a
// pseudo-terminal sends whatever the input says — garbage, frames cut short, answers
// out of step, well-formed frames, a stream that fills the buffer, a hang-up — between
// ticks and keys. After every step the program's records, its drawing objects and
// every text drawn are checked as for the recording stand-in; a step that waited
// without end would be the fuzzer's time-out.
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/measurement.h"
#include "core/cycle.h"
#include "device/connection.h"
#include "platform/linux/tty/d2xx_tty.h"
#include "tests/fuzz/drawn_checks.h"
#include "testing/fake_platform.h"

using namespace fuzz_checks;

namespace {

std::string portName;
std::vector<tty::PortEntry> listPort() {
    return {{portName, "FUZZ0001"}};
}

// One answer line: "M0" + register + "=" + four uppercase hexadecimal digits + CR.
std::string answer(int reg, uint16_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "M0%d=%04X\r", reg, static_cast<unsigned>(value));
    return text;
}

std::string frame(Input& input) {
    const int registers[] = {0, 1, 2, 3, 6, 7};
    std::string bytes;
    for (int reg : registers) {
        bytes += answer(reg, static_cast<uint16_t>(input.next() << 8 | input.next()));
    }
    return bytes;
}

// Writes what fits into the counter's side, never waiting.
void send(int master, const std::string& bytes) {
    if (master >= 0 && !bytes.empty()) {
        ssize_t ignored = write(master, bytes.data(), bytes.size());
        (void)ignored;
    }
}

// Takes what the program wrote, so that its writes never wait on a full port.
void takeWrites(int master) {
    char sink[4096];
    while (master >= 0 && read(master, sink, sizeof sink) > 0) {
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
        std::perror("pseudo-terminal");
        std::abort();
    }
    portName = ptsname(master);
    // Raw from the start, and kept open so that the port does not hang up between opens.
    const int keeper = open(portName.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios settings{};
    if (keeper < 0 || tcgetattr(keeper, &settings) != 0) {
        std::perror("pseudo-terminal port");
        std::abort();
    }
    cfmakeraw(&settings);
    tcsetattr(keeper, TCSANOW, &settings);

    tty::setPortLister(listPort);
    fake::reset();
    searchAtStart();
    check(deviceConnection.deviceHandle != nullptr, "the port opens");

    Input input{data, size, 0};
    int steps = 0;
    while (!input.empty() && steps < 400) {
        const uint8_t op = input.next();
        bool afterKey = false;
        switch (op % 10) {
            case 0:
            case 1:
                break;
            case 2: {  // garbage
                std::string bytes;
                for (size_t n = input.next(); n > 0 && !input.empty(); --n) {
                    bytes += static_cast<char>(input.next());
                }
                send(master, bytes);
                continue;
            }
            case 3:  // a well-formed frame
                send(master, frame(input));
                continue;
            case 4:  // a frame cut short
                send(master, frame(input).substr(0, input.next() % 54));
                continue;
            case 5:  // one answer out of step
                send(master, answer(input.next() % 8, static_cast<uint16_t>(input.next32())));
                continue;
            case 6: {  // a stream that fills the port
                const std::string line = answer(0, 0xFFFF);
                std::string bytes;
                for (size_t n = 1 + input.next() * 16u; n > 0; --n) {
                    bytes += line;
                }
                send(master, bytes);
                continue;
            }
            case 7:  // the counter is unplugged: every later call fails
                if (master >= 0) {
                    close(master);
                    master = -1;
                }
                continue;
            default: {
                const char keys[] = {' ', '+', '-', 'x'};
                applyRangeCommand(static_cast<unsigned char>(keys[input.next() % sizeof keys]));
                afterKey = true;
                break;
            }
        }
        takeWrites(master);
        const size_t drawnBefore = state.drawn.size();
        if (afterKey) {
            runMeasurementStepAfterKey(fake::testWindow());
        } else {
            runMeasurementStep(fake::testWindow());
        }
        ++steps;
        checkState();
        checkDrawn(drawnBefore);
        if (state.drawn.size() > 4096) {
            state.drawn.clear();
        }
    }

    closeDevice();
    tty::setPortLister(nullptr);
    if (master >= 0) {
        close(master);
    }
    close(keeper);
    return 0;
}
