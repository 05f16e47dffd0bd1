// The front without a display: windows exist only as the texts drawn on them. The
// waits move a virtual clock or sleep on the real one, and the screen's lines can be
// kept live on a terminal.
#include <algorithm>
#include <map>
#include <vector>

#include "platform/linux/front_internal.h"

namespace platform::detail {

namespace {

// The program's font is 24 pixels to a half-width cell.
constexpr int pixelsPerColumn = 24;
constexpr uint64_t idleSleepMicros = 1000000;

// A line of terminal cells. A wide character's second cell holds no text; a text
// written over half of one blanks the other half, as on the window.
class CellLine {
public:
    void write(int column, const std::string& utf8) {
        for (size_t i = 0; i < utf8.size();) {
            auto byte = static_cast<unsigned char>(utf8[i]);
            size_t size = byte < 0x80 ? 1 : byte < 0xE0 ? 2 : byte < 0xF0 ? 3 : 4;
            std::string character = utf8.substr(i, size);
            int width = isWide(character) ? 2 : 1;
            for (int k = 0; k < width; ++k) {
                clear(column + k);
            }
            cells_[column] = Cell{character, false};
            if (width == 2) {
                cells_[column + 1] = Cell{"", true};
            }
            column += width;
            i += size;
        }
    }

    std::string text() const {
        std::string out;
        for (const Cell& cell : cells_) {
            out += cell.text;
        }
        return out;
    }

private:
    struct Cell {
        std::string text = " ";
        bool continuation = false;
    };

    static bool isWide(const std::string& character) {
        auto byte = static_cast<unsigned char>(character[0]);
        if (byte < 0x80 || character.size() < 3) {
            return false;  // ASCII and the two-byte forms (Greek "μ" included) are narrow
        }
        uint32_t code = byte & 0x0F;
        for (size_t k = 1; k < character.size(); ++k) {
            code = (code << 6) | (static_cast<unsigned char>(character[k]) & 0x3F);
        }
        return !(code >= 0xFF61 && code <= 0xFF9F);  // half-width katakana
    }

    // Makes `column` a plain blank cell, blanking the other half of a wide character.
    void clear(int column) {
        if (static_cast<size_t>(column) >= cells_.size()) {
            cells_.resize(column + 1);
        }
        if (cells_[column].continuation && column > 0) {
            cells_[column - 1] = Cell{};
        } else if (static_cast<size_t>(column) + 1 < cells_.size() &&
                   cells_[column + 1].continuation) {
            cells_[column + 1] = Cell{};
        }
        cells_[column] = Cell{};
    }

    std::vector<Cell> cells_;
};

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
        // One terminal line per text row, texts at the column nearest their x.
        std::map<int, CellLine> lines;
        for (const ScreenText& text : screenTexts()) {
            int column = std::max(0, (text.x + pixelsPerColumn / 2) / pixelsPerColumn);
            lines[text.y].write(column, text.utf8);
        }
        std::string out;
        if (shownLines_ > 0) {
            out += "\x1b[" + std::to_string(shownLines_) + "A";
        }
        for (const auto& [y, line] : lines) {
            out += "\r\x1b[2K" + line.text() + "\n";
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
