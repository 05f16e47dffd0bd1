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
// One answer: "M0" and its register's digit, "=", the value in hexadecimal digits, a
// carriage return. A frame is the answers to one query sequence, in query order.
constexpr int answerPrefixLength = 4;  // "M0r="
constexpr int answerDigitCount = 4;
constexpr int answerLength = answerPrefixLength + answerDigitCount + 1;
constexpr int responseFrameLength = queryCommandCount * answerLength;
static_assert(responseFrameLength == 54, "a frame is six answers of nine bytes");
// Where the digits of the frame's answer `k` (0-based, in query order) begin.
constexpr int answerDigitsOffset(int k) {
    return k * answerLength + answerPrefixLength;
}

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
