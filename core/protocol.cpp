#include "core/protocol.h"

#include <cstdio>

namespace {

constexpr char carriageReturn = '\r';

CounterCommand makeCommand(const char* text) {
    CounterCommand command{};
    int length = 0;
    while (text[length] != '\0' && length < static_cast<int>(sizeof command.bytes) - 1) {
        command.bytes[length] = text[length];
        ++length;
    }
    command.bytes[length] = carriageReturn;
    command.length = length + 1;
    return command;
}

// The register's value: four uppercase hexadecimal digits at this offset of the frame.
int32_t frameField(const unsigned char* frame, int offset) {
    return parseHexField(answerDigitCount, reinterpret_cast<const char*>(frame + offset));
}

}  // namespace

DividerCommands encodeDivider(int32_t divider) {
    // Every divider in use is positive and even; division truncates toward zero.
    const int32_t registerValue = divider / 2 - 1;
    const uint32_t bits = static_cast<uint32_t>(registerValue);
    char text[16];
    DividerCommands commands{};
    std::snprintf(text, sizeof text, "M020%04x", static_cast<unsigned>(bits & 0xFFFFu));
    commands.low = makeCommand(text);
    std::snprintf(text, sizeof text, "M03000%02x", static_cast<unsigned>((bits >> 16) & 0xFFu));
    commands.high = makeCommand(text);
    return commands;
}

ConfigurationSequence configurationSequence(int32_t divider) {
    const DividerCommands dividerCommands = encodeDivider(divider);
    return ConfigurationSequence{{
        makeCommand("M024"),
        dividerCommands.low,
        dividerCommands.high,
        makeCommand("M021"),
        makeCommand("M028"),
        makeCommand("M004"),
        makeCommand("M014"),
        makeCommand("M001"),
        makeCommand("M008"),
    }};
}

QuerySequence querySequence() {
    return QuerySequence{{
        makeCommand("M00"),
        makeCommand("M01"),
        makeCommand("M02"),
        makeCommand("M03"),
        makeCommand("M06"),
        makeCommand("M07"),
    }};
}

int32_t parseHexField(int length, const char* text) {
    if (length < 1) {
        return -1;
    }
    // Unsigned, so that a long field wraps as 32-bit arithmetic does instead of overflowing.
    uint32_t value = 0;
    for (int i = 0; i < length; ++i) {
        const char c = text[i];
        uint32_t digit = 0;
        if (c >= '0' && c <= '9') {
            digit = static_cast<uint32_t>(c - '0');
        } else if (c >= 'A' && c <= 'F') {
            digit = static_cast<uint32_t>(c - 'A' + 10);
        } else {
            // The counter answers in uppercase; anything else, lowercase included, is no number.
            return -1;
        }
        value = value * 16u + digit;
    }
    return static_cast<int32_t>(value);
}

int32_t combineCount(int32_t high, int32_t low) {
    return static_cast<int32_t>(static_cast<uint32_t>(high) * 65536u + static_cast<uint32_t>(low));
}

FrameCounts decodeFrame(const unsigned char* frame) {
    // The answers come in query order: registers 0, 1, 2, 3, 6, 7.
    const int32_t register0 = frameField(frame, answerDigitsOffset(0));
    const int32_t register1 = frameField(frame, answerDigitsOffset(1));
    const int32_t register2 = frameField(frame, answerDigitsOffset(2));
    const int32_t register3 = frameField(frame, answerDigitsOffset(3));
    const int32_t register6 = frameField(frame, answerDigitsOffset(4));
    const int32_t register7 = frameField(frame, answerDigitsOffset(5));
    return FrameCounts{
        combineCount(register1, register0),
        combineCount(register3, register2),
        combineCount(register7, register6),
    };
}

bool isWellFormedFrame(const unsigned char* frame) {
    const char registers[queryCommandCount] = {'0', '1', '2', '3', '6', '7'};
    for (int k = 0; k < queryCommandCount; ++k) {
        const unsigned char* answer = frame + k * answerLength;
        if (answer[0] != 'M' || answer[1] != '0' || answer[2] != registers[k] || answer[3] != '=' ||
            answer[answerLength - 1] != carriageReturn) {
            return false;
        }
        // The counter writes its digits in uppercase; parseHexField reads exactly those.
        if (parseHexField(answerDigitCount,
                          reinterpret_cast<const char*>(answer + answerPrefixLength)) < 0) {
            return false;
        }
    }
    return true;
}
