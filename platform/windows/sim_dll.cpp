// Glue that turns the counter simulator into a stand-in FTD2XX.dll, for trying the
// Windows program without the hardware. The program itself reads no settings, so
// the stand-in takes its scenario from environment variables of its own:
//   PULSEMETER_SIM_FREQUENCY   input frequency in Hz (default 1000)
//   PULSEMETER_SIM_JITTER_PPM  period jitter in parts per million (default 0)
//   PULSEMETER_SIM_BAUD        answers at this line speed, 50 to 10000000 (default: at once)
//   PULSEMETER_SIM_NO_DEVICE   1: no counter attached (until PULSEMETER_SIM_PLUG_AT)
//   PULSEMETER_SIM_UNPLUG_AT   seconds after loading at which the counter is pulled out,
//                              comma-separated ("3,20")
//   PULSEMETER_SIM_PLUG_AT     seconds at which it is plugged (back) in ("5,25")
//   PULSEMETER_SIM_DEVICE_LOG  file that receives the device's traffic, line by line
#include <cstdio>
#include <cstdlib>

#include "platform/d2xx.h"
#include "sim/sim.h"

namespace {

FILE* deviceLog = nullptr;

double numberFromEnvironment(const char* name, double fallback, double low, double high) {
    const char* text = std::getenv(name);
    if (text == nullptr || *text == '\0') {
        return fallback;
    }
    char* end = nullptr;
    double value = std::strtod(text, &end);
    if (end == text || *end != '\0' || !(value >= low && value <= high)) {
        return fallback;
    }
    return value;
}

constexpr int maxPlugTimes = 16;

// A comma-separated list of times in seconds; anything else (or too many) is no list.
int timesFromEnvironment(const char* name, double* times) {
    const char* text = std::getenv(name);
    if (text == nullptr || *text == '\0') {
        return 0;
    }
    int count = 0;
    for (;;) {
        char* end = nullptr;
        const double value = std::strtod(text, &end);
        if (end == text || !(value >= 0 && value <= 1e9) || count == maxPlugTimes) {
            return 0;
        }
        times[count++] = value;
        if (*end == '\0') {
            return count;
        }
        if (*end != ',') {
            return 0;
        }
        text = end + 1;
    }
}

void configureFromEnvironment() {
    sim::Scenario scenario;
    scenario.frequencyHz =
        numberFromEnvironment("PULSEMETER_SIM_FREQUENCY", scenario.frequencyHz, 0.01, 1e7);
    scenario.jitterPpm = numberFromEnvironment("PULSEMETER_SIM_JITTER_PPM", 0.0, 0.0, 1e5);
    scenario.baud = numberFromEnvironment("PULSEMETER_SIM_BAUD", 0.0, 50.0, 1e7);
    const char* noDevice = std::getenv("PULSEMETER_SIM_NO_DEVICE");
    double unplugAt[maxPlugTimes];
    double plugAt[maxPlugTimes];
    const int unplugs = timesFromEnvironment("PULSEMETER_SIM_UNPLUG_AT", unplugAt);
    const int plugs = timesFromEnvironment("PULSEMETER_SIM_PLUG_AT", plugAt);
    const bool startUnplugged = noDevice != nullptr && noDevice[0] == '1';
    if (startUnplugged && plugs == 0) {
        scenario.deviceCount = 0;
    } else {
        sim::addPlugWindows(scenario, startUnplugged, unplugAt, unplugs, plugAt, plugs);
    }
    const char* logPath = std::getenv("PULSEMETER_SIM_DEVICE_LOG");
    if (logPath != nullptr && *logPath != '\0') {
        // Binary: the log's lines end in a bare line feed on every platform.
        deviceLog = std::fopen(logPath, "wb");
        // Tests read the log while the program runs, and the Windows runtime has no
        // line buffering: write every piece through at once.
        if (deviceLog != nullptr) {
            std::setvbuf(deviceLog, nullptr, _IONBF, 0);
        }
    }
    scenario.deviceLog = deviceLog;
    sim::simConfigure(scenario, sim::realClock());
}

}  // namespace

// Exported as FT_Close (see FTD2XX.def): the simulator's close, plus a line in the
// device log so that a test can see the program release the device.
extern "C" FT_STATUS WINAPI simDllClose(FT_HANDLE handle) {
    FT_STATUS status = FT_Close(handle);
    if (status == FT_OK && deviceLog != nullptr) {
        // The same time stamp as the simulator's own lines: milliseconds since the
        // library was loaded, to the microsecond.
        unsigned long long now = sim::realClock().nowMicros();
        std::fprintf(deviceLog, "%llu.%03llu closed\n", now / 1000, now % 1000);
    }
    return status;
}

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        configureFromEnvironment();
    } else if (reason == DLL_PROCESS_DETACH && deviceLog != nullptr) {
        std::fclose(deviceLog);
        deviceLog = nullptr;
    }
    return TRUE;
}
