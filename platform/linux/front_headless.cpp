// The front without a display: windows exist only as the texts drawn on them. The
// waits move a virtual clock or sleep on the real one, and the screen's lines can be
// kept live on a terminal.
#include <algorithm>
#include <map>

#include "platform/linux/front_internal.h"

namespace platform::detail {

namespace {

// The program's font is 24 pixels to a half-width cell.
constexpr int pixelsPerColumn = 24;
constexpr uint64_t idleSleepMicros = 1000000;

// Terminal columns taken by a UTF-8 text: half-width forms and ASCII take one.
int columnsOf(const std::string& utf8) {
    int columns = 0;
    for (size_t i = 0; i < utf8.size();) {
        auto byte = static_cast<unsigned char>(utf8[i]);
        uint32_t code = byte;
        size_t size = byte < 0x80 ? 1 : byte < 0xE0 ? 2 : byte < 0xF0 ? 3 : 4;
        if (size > 1) {
            code = byte & (0x3F >> (size - 1));
            for (size_t k = 1; k < size && i + k < utf8.size(); ++k) {
                code = (code << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
            }
        }
        columns += (code < 0x1100 || (code >= 0xFF61 && code <= 0xFF9F)) ? 1 : 2;
        i += size;
    }
    return columns;
}

class HeadlessFront : public Front {
public:
    explicit HeadlessFront(const FrontConfig& config) : terminal_(config.liveReadout) {}

    void screenChanged() override { dirty_ = true; }

    void destroyWindow(uintptr_t) override { refreshTerminal(); }

    bool wait(std::optional<uint64_t> deadline) override {
        refreshTerminal();
        if (virtualClock()) {
            if (!deadline) {
                return false;
            }
            platformWaitUntilMicros(*deadline);
            return true;
        }
        platformWaitUntilMicros(deadline.value_or(nowMicros() + idleSleepMicros));
        return true;
    }

private:
    void refreshTerminal() {
        if (terminal_ == nullptr || !dirty_) {
            return;
        }
        dirty_ = false;
        std::map<int, std::string> lines;
        std::map<int, int> widths;
        for (const ScreenText& text : screenTexts()) {
            std::string& line = lines[text.y];
            int& width = widths[text.y];
            int column = std::max(0, (text.x + pixelsPerColumn / 2) / pixelsPerColumn);
            if (column > width) {
                line.append(column - width, ' ');
                width = column;
            }
            line += text.utf8;
            width += columnsOf(text.utf8);
        }
        std::string out;
        if (shownLines_ > 0) {
            out += "\x1b[" + std::to_string(shownLines_) + "A";
        }
        for (const auto& [y, line] : lines) {
            out += "\r\x1b[2K" + line + "\n";
        }
        out += "\x1b[J";
        std::fputs(out.c_str(), terminal_);
        std::fflush(terminal_);
        shownLines_ = static_cast<int>(lines.size());
    }

    FILE* terminal_;
    bool dirty_ = false;
    int shownLines_ = 0;
};

}  // namespace

std::unique_ptr<Front> makeHeadlessFront(const FrontConfig& config) {
    return std::make_unique<HeadlessFront>(config);
}

}  // namespace platform::detail
