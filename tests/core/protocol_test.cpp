#include <gtest/gtest.h>

#include <string>

#include "core/protocol.h"
#include "testing/fake_platform.h"

namespace {

std::string text(const CounterCommand& command) {
    return std::string(command.bytes, static_cast<size_t>(command.length));
}

struct DividerCase {
    int32_t divider;
    const char* low;
    const char* high;
};

TEST(Protocol, EncodesDividerRegisterInLowercaseHex) {
    const DividerCase cases[] = {
        {4, "M0200001\r", "M0300000\r"},      {10, "M0200004\r", "M0300000\r"},
        {100, "M0200031\r", "M0300000\r"},    {100000, "M020c34f\r", "M0300000\r"},
        {800000, "M0201a7f\r", "M0300006\r"}, {8000000, "M02008ff\r", "M030003d\r"},
    };
    for (const DividerCase& c : cases) {
        const DividerCommands commands = encodeDivider(c.divider);
        EXPECT_EQ(text(commands.low), c.low) << c.divider;
        EXPECT_EQ(text(commands.high), c.high) << c.divider;
    }
}

TEST(Protocol, ConfigurationSequenceIsNineCommandsEachInItsOwnLength) {
    const ConfigurationSequence sequence = configurationSequence(8000000);
    const char* expected[] = {"M024\r", "M02008ff\r", "M030003d\r", "M021\r", "M028\r",
                              "M004\r", "M014\r",     "M001\r",     "M008\r"};
    // Five bytes each, but nine for the two that carry the divider.
    int total = 0;
    for (int i = 0; i < configurationCommandCount; ++i) {
        EXPECT_EQ(text(sequence.commands[i]), expected[i]) << i;
        EXPECT_EQ(sequence.commands[i].length, i == 1 || i == 2 ? 9 : 5) << i;
        total += sequence.commands[i].length;
    }
    EXPECT_EQ(total, 53);
}

TEST(Protocol, QuerySequenceIsSixCommandsOfTwentyFourBytes) {
    const QuerySequence sequence = querySequence();
    const char* expected[] = {"M00\r", "M01\r", "M02\r", "M03\r", "M06\r", "M07\r"};
    int total = 0;
    for (int i = 0; i < queryCommandCount; ++i) {
        EXPECT_EQ(text(sequence.commands[i]), expected[i]) << i;
        total += sequence.commands[i].length;
    }
    EXPECT_EQ(total, 24);
}

TEST(Protocol, ParsesOnlyUppercaseHexDigits) {
    const struct {
        int length;
        const char* field;
        int32_t value;
    } cases[] = {
        {4, "00A0", 160},
        {4, "00a0", -1},
        {4, "FFFF", 65535},
        {4, "0000", 0},
        {4, "12G4", -1},
        {4, " 123", -1},
        {0, "1234", -1},
        {-3, "1234", -1},
        {1, "F", 15},
        {8, "FFFFFFFF", -1},
        {8, "7FFFFFFF", 2147483647},
        {9, "100000000", 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(parseHexField(c.length, c.field), c.value) << c.field << " " << c.length;
    }
}

TEST(Protocol, CombinesCountsIn32BitTwosComplement) {
    EXPECT_EQ(combineCount(1, 160), 65696);
    EXPECT_EQ(combineCount(1, -1), 65535);
    EXPECT_EQ(combineCount(0x8000, 0), INT32_MIN);
    EXPECT_EQ(combineCount(0xFFFF, 0xFFFF), -1);
    EXPECT_EQ(combineCount(-1, 5), -65536 + 5);
    EXPECT_EQ(combineCount(-1, -1), -65537);
    EXPECT_EQ(combineCount(0x7FFF, 0xFFFF), INT32_MAX);
}

// The frames are built as the scripted counter of the tests builds them.
std::string frameOf(const char* r0, const char* r1, const char* r2, const char* r3, const char* r6,
                    const char* r7) {
    return fake::frameFields(r0, r1, r2, r3, r6, r7);
}

TEST(Protocol, DecodesTheThreeCountsFromTheirRegisters) {
    const std::string frame = frameOf("5678", "1234", "0002", "0001", "00A0", "0001");
    ASSERT_EQ(frame.size(), static_cast<size_t>(responseFrameLength));
    const FrameCounts counts = decodeFrame(reinterpret_cast<const unsigned char*>(frame.data()));
    EXPECT_EQ(counts.liveCount, 0x12345678);
    EXPECT_EQ(counts.rangeCount, 0x00010002);
    EXPECT_EQ(counts.periodCount, 65696);
}

TEST(Protocol, MalformedAndHugeFieldsFlowThroughAsTheArithmeticSays) {
    const std::string lowercase = frameOf("0000", "0000", "0000", "0000", "00a0", "0001");
    EXPECT_EQ(decodeFrame(reinterpret_cast<const unsigned char*>(lowercase.data())).periodCount,
              65535);
    const std::string huge = frameOf("0000", "0000", "0000", "0000", "0000", "8000");
    EXPECT_LT(decodeFrame(reinterpret_cast<const unsigned char*>(huge.data())).periodCount, 0);
}

TEST(Protocol, BytesOutsideTheFieldsAreNeverExamined) {
    std::string frame = frameOf("0001", "0000", "0003", "0000", "0010", "0000");
    for (int k = 0; k < 6; ++k) {
        for (int offset : {0, 1, 2, 3, 8}) {
            frame[static_cast<size_t>(answerLength * k + offset)] = '\xff';
        }
    }
    const FrameCounts counts = decodeFrame(reinterpret_cast<const unsigned char*>(frame.data()));
    EXPECT_EQ(counts.liveCount, 1);
    EXPECT_EQ(counts.rangeCount, 3);
    EXPECT_EQ(counts.periodCount, 16);
}

TEST(Protocol, AWellFormedFrameIsSixAnswersInQueryOrder) {
    const std::string good = frameOf("5678", "1234", "0002", "0001", "00A0", "0001");
    const auto wellFormed = [](const std::string& frame) {
        return isWellFormedFrame(reinterpret_cast<const unsigned char*>(frame.data()));
    };
    EXPECT_TRUE(wellFormed(good));
    // Every byte of every answer counts: change any one and the frame is no measurement.
    for (size_t i = 0; i < good.size(); ++i) {
        std::string bad = good;
        bad[i] = bad[i] == 'A' ? 'a' : '\x7f';
        EXPECT_FALSE(wellFormed(bad)) << "byte " << i;
    }
    EXPECT_FALSE(wellFormed(good.substr(45) + good.substr(0, 45)));
}

}  // namespace
