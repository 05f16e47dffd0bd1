// Code page 932 text, as the program's bytes carry it, converted with glibc's iconv.
// "CP932" rather than "SHIFT_JIS": only the former has the vendor rows and maps
// 0x5C and 0x7E to ASCII, as the Windows code page does.
#include <iconv.h>

#include "platform/linux/fronts/fronts.h"

namespace platform::detail {

namespace {

constexpr const char* replacement = "\xEF\xBF\xBD";  // U+FFFD

// Opened once per direction: the program draws a few dozen characters every tick.
enum class Direction { ToUtf8, FromUtf8 };

std::string convert(Direction direction, const std::string& bytes) {
    static iconv_t toUtf8 = iconv_open("UTF-8", "CP932");
    static iconv_t fromUtf8 = iconv_open("CP932", "UTF-8");
    iconv_t converter = direction == Direction::ToUtf8 ? toUtf8 : fromUtf8;
    if (converter == reinterpret_cast<iconv_t>(-1)) {
        return std::string();
    }
    iconv(converter, nullptr, nullptr, nullptr, nullptr);
    std::string out(bytes.size() * 4 + 4, '\0');
    char* in = const_cast<char*>(bytes.data());
    size_t inLeft = bytes.size();
    char* outPointer = out.data();
    size_t outLeft = out.size();
    size_t result = iconv(converter, &in, &inLeft, &outPointer, &outLeft);
    if (result == static_cast<size_t>(-1) || inLeft != 0) {
        return std::string();
    }
    out.resize(out.size() - outLeft);
    return out;
}

bool isLeadByte(unsigned char byte) {
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

}  // namespace

std::vector<TextCell> decodeCp932(const char* bytes, int length) {
    std::vector<TextCell> cells;
    for (int i = 0; i < length;) {
        auto byte = static_cast<unsigned char>(bytes[i]);
        // Most of what the program draws is digits, spaces and halfwidth katakana, which
        // code page 932 maps one to one: no converter needed for them.
        if (byte < 0x80) {
            cells.push_back(TextCell{std::string(1, static_cast<char>(byte)), 1});
            ++i;
            continue;
        }
        if (byte >= 0xA1 && byte <= 0xDF) {
            // U+FF61 to U+FF9F
            const unsigned code = 0xFF61u + (byte - 0xA1u);
            const char utf8[] = {static_cast<char>(0xE0u | (code >> 12)),
                                 static_cast<char>(0x80u | ((code >> 6) & 0x3Fu)),
                                 static_cast<char>(0x80u | (code & 0x3Fu))};
            cells.push_back(TextCell{std::string(utf8, sizeof utf8), 1});
            ++i;
            continue;
        }
        int size = isLeadByte(byte) && i + 1 < length ? 2 : 1;
        std::string utf8 = convert(Direction::ToUtf8, std::string(bytes + i, size));
        if (utf8.empty() && size == 2) {
            size = 1;
            utf8 = convert(Direction::ToUtf8, std::string(bytes + i, size));
        }
        cells.push_back(TextCell{utf8.empty() ? replacement : utf8, size});
        i += size;
    }
    return cells;
}

std::string cp932ToUtf8(const std::string& bytes) {
    std::string utf8;
    for (const TextCell& cell : decodeCp932(bytes.data(), static_cast<int>(bytes.size()))) {
        utf8 += cell.utf8;
    }
    return utf8;
}

std::string utf8ToCp932(const std::string& text) {
    return convert(Direction::FromUtf8, text);
}

}  // namespace platform::detail
