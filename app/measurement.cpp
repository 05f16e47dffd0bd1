#include "app/measurement.h"

#include "core/cycle.h"
#include "device/connection.h"

void searchAtStart() {
    if (openFirstDevice()) {
        startMeasuring();
    }
}

void runMeasurementStep(HWND window) {
    const CycleDevice device = {deviceConnection.deviceHandle, &deviceConnection.lastStatus};
    if (runCycleStep(window, device) == CycleOutcome::DeviceLost) {
        dropLostDevice(window);
        showDeviceLost(window);
    }
}

void runMeasurementStepAfterKey(HWND window) {
    const CycleDevice device = {deviceConnection.deviceHandle, &deviceConnection.lastStatus};
    if (runCycleStepAfterKey(window, device) == CycleOutcome::DeviceLost) {
        dropLostDevice(window);
        showDeviceLost(window);
    }
}

void lookForDevice(HWND window) {
    if (!watchForDevice(window)) {
        return;
    }
    resumeMeasuring();
    // The no-device text goes: the readout's lines do not cover all of it, and a
    // counter is there now.
    InvalidateRect(window, nullptr, TRUE);
    UpdateWindow(window);
    SetTimer(window, cycleTimerId, cycleTickMs, nullptr);
}
