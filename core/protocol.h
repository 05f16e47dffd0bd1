// The counter's command language and the decoding of its answers. Pure data
// transformation: no state, no input or output.
#pragma once

#include <cstdint>

// Every command is its ASCII text and exactly one carriage return; no terminating zero
// is sent, so `length` counts the bytes handed to the device.
struct CounterCommand {
    char bytes[16];
    int length;
};

struct DividerCommands {
    CounterCommand low;   // "M020" + R bits 0-15
    CounterCommand high;  // "M03000" + R bits 16-23
};

constexpr int configurationCommandCount = 9;
constexpr int queryCommandCount = 6;
constexpr int responseFrameLength = 54;
constexpr int answerLength = 9;

struct ConfigurationSequence {
    CounterCommand commands[configurationCommandCount];
};

struct QuerySequence {
    CounterCommand commands[queryCommandCount];
};

struct FrameCounts {
    int32_t liveCount;
    int32_t rangeCount;
    int32_t periodCount;
};

DividerCommands encodeDivider(int32_t divider);
ConfigurationSequence configurationSequence(int32_t divider);
QuerySequence querySequence();
int32_t parseHexField(int length, const char* text);
int32_t combineCount(int32_t high, int32_t low);
// `frame` holds responseFrameLength bytes.
FrameCounts decodeFrame(const unsigned char* frame);
// Whether the bytes are six answers in query order, each "M0" + its register + "=" +
// four uppercase hexadecimal digits + carriage return. Only such a frame is a
// measurement: a byte count alone cannot tell an answer out of step or a garbled field.
bool isWellFormedFrame(const unsigned char* frame);
