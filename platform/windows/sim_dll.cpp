// Glue that turns the counter simulator into a stand-in FTD2XX.dll, for trying the
// Windows program without the hardware. The program itself reads no settings, so
// the stand-in takes its scenario from environment variables of its own:
//   PULSEMETER_SIM_FREQUENCY   input frequency in Hz, 0.01 to 10000000 (default 1000)
//   PULSEMETER_SIM_JITTER_PPM  period jitter in parts per million, 0 to 100000 (default 0)
//   PULSEMETER_SIM_BAUD        answers at this line speed, 50 to 10000000 (default: at once)
//   PULSEMETER_SIM_NO_DEVICE   1: no counter attached (until PULSEMETER_SIM_PLUG_AT);
//                              0: one (the default)
//   PULSEMETER_SIM_UNPLUG_AT   seconds after loading at which the counter is pulled out,
//                              comma-separated ("3,20")
//   PULSEMETER_SIM_PLUG_AT     seconds at which it is plugged (back) in ("5,25")
//   PULSEMETER_SIM_DEVICE_LOG  file that receives the device's traffic, line by line
// A variable that is set but cannot be used as it says (a stray space from "set X=1 "
// in a batch file, a number out of range) is named in a message box, and the library
// does not load: the program then runs as without it, never with a setting nobody
// asked for.
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/d2xx.h"
#include "sim/sim.h"

namespace {

FILE* deviceLog = nullptr;

// Says which variable cannot be used and why; always false, for the caller to return.
bool refuse(const char* name, const char* value, const char* expected) {
    char text[768];
    std::snprintf(text, sizeof text,
                  "%s=\"%.256s\" cannot be used: %s.\n\nThe stand-in counter library "
                  "is not loaded.",
                  name, value, expected);
    MessageBoxA(nullptr, text, name, MB_OK | MB_ICONERROR);
    return false;
}

// A number in range that starts at `text` and ends at `end`; no blank before it.
bool numberAt(const char* text, double low, double high, char** end, double& value) {
    if (std::isspace(static_cast<unsigned char>(text[0])) != 0) {
        return false;
    }
    value = std::strtod(text, end);
    return *end != text && value >= low && value <= high;
}

// Unset or empty: `value` stays. Otherwise the whole text must be a number in range.
bool numberFromEnvironment(const char* name, double low, double high, const char* expected,
                           double& value) {
    const char* text = std::getenv(name);
    if (text == nullptr || *text == '\0') {
        return true;
    }
    char* end = nullptr;
    double parsed = 0;
    if (!numberAt(text, low, high, &end, parsed) || *end != '\0') {
        return refuse(name, text, expected);
    }
    value = parsed;
    return true;
}

constexpr int maxPlugTimes = 16;

// A comma-separated list of times in seconds, at most maxPlugTimes; unset or empty: none.
bool timesFromEnvironment(const char* name, double* times, int& count) {
    count = 0;
    const char* text = std::getenv(name);
    if (text == nullptr || *text == '\0') {
        return true;
    }
    for (const char* at = text;;) {
        char* end = nullptr;
        double value = 0;
        if (count == maxPlugTimes || !numberAt(at, 0.0, 1e9, &end, value)) {
            return refuse(name, text, "expected at most 16 times in seconds, comma-separated");
        }
        times[count++] = value;
        if (*end == '\0') {
            return true;
        }
        if (*end != ',') {
            return refuse(name, text, "expected at most 16 times in seconds, comma-separated");
        }
        at = end + 1;
    }
}

bool configureFromEnvironment() {
    sim::Scenario scenario;
    if (!numberFromEnvironment("PULSEMETER_SIM_FREQUENCY", 0.01, 1e7,
                               "expected a frequency from 0.01 to 10000000 Hz",
                               scenario.frequencyHz) ||
        !numberFromEnvironment("PULSEMETER_SIM_JITTER_PPM", 0.0, 1e5,
                               "expected a jitter from 0 to 100000 ppm", scenario.jitterPpm) ||
        !numberFromEnvironment("PULSEMETER_SIM_BAUD", 50.0, 1e7,
                               "expected a line speed from 50 to 10000000 baud", scenario.baud)) {
        return false;
    }
    bool startUnplugged = false;
    const char* noDevice = std::getenv("PULSEMETER_SIM_NO_DEVICE");
    if (noDevice != nullptr && *noDevice != '\0') {
        const std::string flag = noDevice;
        if (flag != "0" && flag != "1") {
            return refuse("PULSEMETER_SIM_NO_DEVICE", noDevice,
                          "expected 1 (no counter attached) or 0 (one counter)");
        }
        startUnplugged = flag == "1";
    }
    double unplugAt[maxPlugTimes];
    double plugAt[maxPlugTimes];
    int unplugs = 0;
    int plugs = 0;
    if (!timesFromEnvironment("PULSEMETER_SIM_UNPLUG_AT", unplugAt, unplugs) ||
        !timesFromEnvironment("PULSEMETER_SIM_PLUG_AT", plugAt, plugs)) {
        return false;
    }
    if (startUnplugged && plugs == 0) {
        scenario.deviceCount = 0;
    } else {
        sim::addPlugWindows(scenario, startUnplugged, unplugAt, unplugs, plugAt, plugs);
    }
    const char* logPath = std::getenv("PULSEMETER_SIM_DEVICE_LOG");
    if (logPath != nullptr && *logPath != '\0') {
        // Binary: the log's lines end in a bare line feed on every platform.
        deviceLog = std::fopen(logPath, "wb");
        if (deviceLog == nullptr) {
            return refuse("PULSEMETER_SIM_DEVICE_LOG", logPath,
                          "the file cannot be opened for writing");
        }
        // Tests read the log while the program runs, and the Windows runtime has no
        // line buffering: write every piece through at once.
        std::setvbuf(deviceLog, nullptr, _IONBF, 0);
    }
    scenario.deviceLog = deviceLog;
    sim::simConfigure(scenario, sim::realClock());
    return true;
}

}  // namespace

// Exported as FT_Close (see FTD2XX.def): the simulator's close, plus a line in the
// device log so that a test can see the program release the device.
extern "C" FT_STATUS WINAPI simDllClose(FT_HANDLE handle) {
    FT_STATUS status = FT_Close(handle);
    if (status == FT_OK && deviceLog != nullptr) {
        // The same time stamp as the simulator's own lines: milliseconds since the
        // library was loaded, to the microsecond.
        const std::string stamp = sim::formatMillis(sim::realClock().nowMicros());
        std::fprintf(deviceLog, "%s closed\n", stamp.c_str());
    }
    return status;
}

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        return configureFromEnvironment() ? TRUE : FALSE;
    } else if (reason == DLL_PROCESS_DETACH && deviceLog != nullptr) {
        std::fclose(deviceLog);
        deviceLog = nullptr;
    }
    return TRUE;
}
