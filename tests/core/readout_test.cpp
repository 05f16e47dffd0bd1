#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "core/readout.h"
#include "testing/fake_platform.h"

namespace {

using fake::state;

class Readout : public ::testing::Test {
protected:
    void SetUp() override {
        fake::reset();
        beginDrawing(fake::testWindow());
    }
    void TearDown() override {
        endDrawing();
        EXPECT_EQ(state.contextsOpen, 0);
        EXPECT_EQ(state.fontsAlive, 0);
        EXPECT_FALSE(state.fontSelected);
    }
};

const std::string dashes = "  ------------  ";

TEST_F(Readout, DrawsWithTheLargeShiftJisFontBlackOnOpaqueWhite) {
    EXPECT_EQ(state.contextsOpen, 1);
    EXPECT_EQ(state.fontsAlive, 1);
    EXPECT_TRUE(state.fontSelected);
    EXPECT_EQ(state.fontHeight, 48);
    EXPECT_EQ(state.fontWidth, 24);
    EXPECT_EQ(state.fontWeight, 400);
    EXPECT_EQ(state.fontCharSet, 128u);
    EXPECT_EQ(state.fontPitchAndFamily, 0x30u);
    EXPECT_EQ(fake::utf8(state.fontFace), "ＭＳ ゴシック");
    EXPECT_EQ(state.textColor, 0x000000u);
    EXPECT_EQ(state.backgroundColor, 0xFFFFFFu);
    EXPECT_EQ(state.backgroundMode, OPAQUE);
}

TEST_F(Readout, EveryLiteralTextIsExactCodePage932AtItsPlace) {
    showNoDevice();
    showMode(1);
    showMode(0);
    showPeriod(0);
    showFrequency(0);
    showCounts(123, 1000);
    const struct {
        size_t index;
        int x;
        int y;
        const char* text;
        size_t bytes;
    } cases[] = {
        {0, 10, 10, "接続デバイスなし     ", 21},
        {1, 10, 285, "自動   ", 7},
        {2, 10, 285, "固定   ", 7},
        {3, 0, 150, "  ------------  ", 16},
        {4, 370, 150, "μs    ", 7},
        {5, 0, 200, "  ------------  ", 16},
        {6, 370, 200, "Hz    ", 6},
        {7, 10, 5, "ｶｳﾝﾄ値 123        ", 18},
        {8, 10, 55, "分周値 1000      ", 17},
    };
    ASSERT_EQ(state.drawn.size(), 9u);
    for (const auto& c : cases) {
        const fake::Drawn& d = state.drawn[c.index];
        EXPECT_EQ(d.x, c.x) << c.text;
        EXPECT_EQ(d.y, c.y) << c.text;
        EXPECT_EQ(fake::utf8(d.bytes), c.text);
        EXPECT_EQ(d.bytes.size(), c.bytes) << c.text;
    }
}

TEST_F(Readout, CountsAreSignedDecimal) {
    showCounts(-5, 4);
    EXPECT_EQ(fake::utf8(fake::textAt(10, 5)), "ｶｳﾝﾄ値 -5        ");
    EXPECT_EQ(fake::utf8(fake::textAt(10, 55)), "分周値 4      ");
}

TEST_F(Readout, PeriodAndFrequencyShowDashesBelowTheirThresholds) {
    const struct {
        void (*show)(double);
        double value;
        int y;
        const char* text;
    } cases[] = {
        {showPeriod, 0.0, 150, "  ------------  "},
        {showPeriod, 1.0, 150, "  ------------  "},
        {showPeriod, -3.0, 150, "  ------------  "},
        {showPeriod, 1.5, 150, "      1.500000 "},
        {showPeriod, 150.0, 150, "    150.0000__ "},
        {showFrequency, 0.1, 200, "  ------------  "},
        {showFrequency, 0.1000001, 200, "      0.100000        "},
        {showFrequency, 6666.666666667, 200, "   6666.66____        "},
        {showFrequency, 999999.9, 200, " 999999.______        "},
    };
    for (const auto& c : cases) {
        c.show(c.value);
        EXPECT_EQ(fake::textAt(0, c.y), c.text) << c.value;
    }
}

TEST(MaskDigits, KeepsAboutSevenSignificantDigits) {
    const struct {
        double value;
        const char* masked;
    } cases[] = {
        {1000.0, "   1000.000___ "},
        {1.95, "      1.95000_ "},
        {1.9, "      1.900000 "},
        {1.5, "      1.500000 "},
        {19.5, "     19.5000__ "},
        {9999999.0, "9999999_______ "},
        // Wider than the 14-character field: masked from the number's own last digit.
        {10000000.0, "10000000_______ "},
        {536870911.75, "5368709_________ "},
    };
    for (const auto& c : cases) {
        char text[128];
        const int length = std::snprintf(text, sizeof text, "%14.6f ", c.value);
        maskDigits(text, length, c.value);
        EXPECT_EQ(std::string(text, static_cast<size_t>(length)), c.masked) << c.value;
    }
}

}  // namespace
