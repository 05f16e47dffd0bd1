#include "core/readout.h"

#include <cstdarg>
#include <cstdio>

namespace {

constexpr int textBufferSize = 128;
constexpr int fontHeight = 48;
constexpr int fontWidth = 24;
constexpr int numberWidth = 14;

// The texts are Shift-JIS (code page 932) bytes, written as escapes so that every
// compiler produces the same bytes.
// "ＭＳ ゴシック"
constexpr char fontFace[] = "\x82\x6c\x82\x72 \x83\x53\x83\x56\x83\x62\x83\x4e";
// "接続デバイスなし     "
constexpr char noDeviceText[] =
    "\x90\xda\x91\xb1\x83\x66\x83\x6f\x83\x43\x83\x58\x82\xc8\x82\xb5     ";
// "ｶｳﾝﾄ値 %d        "
constexpr char countFormat[] = "\xb6\xb3\xdd\xc4\x92\x6c %d        ";
// "分周値 %d      "
constexpr char dividerFormat[] = "\x95\xaa\x8e\xfc\x92\x6c %d      ";
constexpr char periodFormat[] = "%14.6f ";
constexpr char frequencyFormat[] = "%14.6f        ";
constexpr char dashText[] = "  ------------  ";
// "μs    "
constexpr char periodUnit[] =
    "\x83\xca"
    "s    ";
constexpr char frequencyUnit[] = "Hz    ";
// "自動   "
constexpr char automaticText[] = "\x8e\xa9\x93\xae   ";
// "固定   "
constexpr char fixedText[] = "\x8c\xc5\x92\xe8   ";

struct DrawingObjects {
    HWND window;
    HDC context;
    HFONT font;
    HGDIOBJ previousFont;
};

DrawingObjects drawing = {nullptr, nullptr, nullptr, nullptr};

struct Text {
    char bytes[textBufferSize];
    int length;
};

// Formats into the fixed buffer; the length is what was actually produced, so a
// text that would not fit is cut, never overrun.
__attribute__((format(printf, 2, 3))) void formatText(Text& text, const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    const int produced = std::vsnprintf(text.bytes, sizeof text.bytes, format, arguments);
    va_end(arguments);
    if (produced < 0) {
        text.bytes[0] = '\0';
        text.length = 0;
    } else {
        text.length = produced < textBufferSize ? produced : textBufferSize - 1;
    }
}

void drawText(int x, int y, const Text& text) {
    TextOutA(drawing.context, x, y, text.bytes, text.length);
}

void drawLiteral(int x, int y, const char* literal) {
    Text text;
    formatText(text, "%s", literal);
    drawText(x, y, text);
}

void formatValue(Text& text, const char* format, double value) {
    formatText(text, format, value);
    maskDigits(text.bytes, text.length, value);
}

// A value line: the number, or dashes at or below the threshold, then its unit.
void showValueLine(int y, double value, double threshold, const char* format, const char* unit) {
    Text text;
    if (value > threshold) {
        formatValue(text, format, value);
    } else {
        formatText(text, "%s", dashText);
    }
    drawText(0, y, text);
    drawLiteral(370, y, unit);
}

}  // namespace

void beginDrawing(HWND window) {
    drawing.window = window;
    drawing.context = GetDC(window);
    drawing.font = CreateFontA(fontHeight, fontWidth, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                               SHIFTJIS_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                               DEFAULT_QUALITY, FF_MODERN | DEFAULT_PITCH, fontFace);
    drawing.previousFont = SelectObject(drawing.context, drawing.font);
    SetTextColor(drawing.context, RGB(0, 0, 0));
    SetBkColor(drawing.context, RGB(255, 255, 255));
    SetBkMode(drawing.context, OPAQUE);
}

void endDrawing() {
    SelectObject(drawing.context, drawing.previousFont);
    DeleteObject(drawing.font);
    ReleaseDC(drawing.window, drawing.context);
    drawing = DrawingObjects{nullptr, nullptr, nullptr, nullptr};
}

void showNoDevice() {
    drawLiteral(10, 10, noDeviceText);
}

void showCounts(int32_t periodCount, int32_t divider) {
    Text text;
    formatText(text, countFormat, static_cast<int>(periodCount));
    drawText(10, 5, text);
    formatText(text, dividerFormat, static_cast<int>(divider));
    drawText(10, 55, text);
}

void showPeriod(double value) {
    showValueLine(150, value, 1.0, periodFormat, periodUnit);
}

void showFrequency(double value) {
    showValueLine(200, value, 0.1, frequencyFormat, frequencyUnit);
}

void showMode(int32_t autoRange) {
    drawLiteral(10, 285, autoRange != 0 ? automaticText : fixedText);
}

void maskDigits(char* text, int length, double value) {
    // The number's last digit: index 13 while the value fits the 14-character field;
    // a wider number (a period of 10^7 µs or more) ends further right, and masking
    // starts from its own last digit.
    int i = numberWidth - 1;
    while (i + 1 < length && text[i + 1] != ' ') {
        ++i;
    }
    for (double t = value; t > 1.9 && i >= 0; t /= 10.0) {
        text[i] = '_';
        --i;
    }
}
