// The front without a display: windows exist only as the texts drawn on them. The
// waits move a virtual clock or sleep on the real one, and the screen's lines can be
// kept live on a terminal, which then serves as the keyboard.
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <map>
#include <vector>

#include "platform/linux/fronts/fronts.h"

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

volatile sig_atomic_t interrupted = 0;

void onInterrupt(int) {
    interrupted = 1;
}

// Ctrl-C, Ctrl-\, the terminal hanging up and a polite kill all close the window, so
// that the program ends its own way and the terminal gets its settings back.
constexpr int closingSignals[] = {SIGINT, SIGTERM, SIGQUIT, SIGHUP};

// Whether the output can no longer be written: a write failed (a full disk, a reader
// that went away). The program then ends rather than run on unseen.
bool outputFailed(FILE* terminal) {
    return std::ferror(stdout) != 0 || (terminal != nullptr && std::ferror(terminal) != 0);
}

class HeadlessFront : public Front {
public:
    explicit HeadlessFront(const FrontConfig& config) : terminal_(config.liveReadout) {
        // A reader that goes away (`| head`) is a failed write like any other, seen
        // through the stream's error, not a signal that kills the program on the spot.
        struct sigaction ignore = {};
        ignore.sa_handler = SIG_IGN;
        sigaction(SIGPIPE, &ignore, &savedPipeAction_);
        // With the live readout on the real clock, the terminal is the keyboard too:
        // characters unbuffered and unechoed, Ctrl-C closing the window.
        if (terminal_ != nullptr && config.clock == ClockKind::Real && isatty(STDIN_FILENO) &&
            tcgetattr(STDIN_FILENO, &savedTerminal_) == 0) {
            termios keys = savedTerminal_;
            keys.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
            keys.c_cc[VMIN] = 0;
            keys.c_cc[VTIME] = 0;
            keyboard_ = tcsetattr(STDIN_FILENO, TCSANOW, &keys) == 0;
            struct sigaction action = {};
            action.sa_handler = onInterrupt;
            for (int signalNumber : closingSignals) {
                sigaction(signalNumber, &action, nullptr);
            }
        }
    }

    ~HeadlessFront() override {
        restoreTerminal();
        sigaction(SIGPIPE, &savedPipeAction_, nullptr);
    }

    void createWindow(uintptr_t window, const std::string&, const MenuBar*, int, int) override {
        windows_.push_back(window);
    }

    void screenChanged() override { dirty_ = true; }

    void destroyWindow(uintptr_t window) override {
        refreshTerminal();
        windows_.erase(std::remove(windows_.begin(), windows_.end(), window), windows_.end());
        // The last window gone, the program is ending: whatever it still says should
        // reach a terminal that reads lines again.
        if (windows_.empty()) {
            restoreTerminal();
        }
    }

    bool wait(std::optional<uint64_t> deadline) override {
        refreshTerminal();
        if (outputFailed(terminal_) && !windows_.empty()) {
            sendClose(windows_.front());
            return true;
        }
        if (virtualClock()) {
            if (!deadline) {
                std::fputs(
                    "virtual time: no timer runs and nothing is scheduled, so nothing "
                    "can happen any more; ending the run\n",
                    stderr);
                return false;
            }
            platformWaitUntilMicros(*deadline);
            return true;
        }
        uint64_t until = deadline.value_or(nowMicros() + idleSleepMicros);
        if (!keyboard_) {
            platformWaitUntilMicros(until);
            return true;
        }
        uint64_t now = nowMicros();
        pollfd input = {STDIN_FILENO, POLLIN, 0};
        int timeoutMs = until > now ? static_cast<int>((until - now + 999) / 1000) : 0;
        if (poll(&input, 1, timeoutMs) > 0) {
            readKeys();
        }
        if (interrupted && !windows_.empty()) {
            interrupted = 0;
            sendClose(windows_.front());
        }
        return true;
    }

private:
    void restoreTerminal() {
        if (!keyboard_) {
            return;
        }
        keyboard_ = false;
        tcsetattr(STDIN_FILENO, TCSANOW, &savedTerminal_);
        for (int signalNumber : closingSignals) {
            signal(signalNumber, SIG_DFL);
        }
    }

    // Printable characters go to the window as WM_CHAR, Escape closes it as a window's
    // close button does (the program ends on it as on its menu's exit item); the escape
    // sequences of other keys are ignored whole.
    void readKeys() {
        char bytes[64];
        ssize_t got = read(STDIN_FILENO, bytes, sizeof bytes);
        if (got <= 0 || windows_.empty()) {
            return;
        }
        if (bytes[0] == '\x1b') {
            if (got == 1) {
                postInput(windows_.front(), WM_CLOSE, 0, 0);
            }
            return;
        }
        for (ssize_t i = 0; i < got; ++i) {
            if (bytes[i] >= 0x20 && bytes[i] < 0x7F) {
                postInput(windows_.front(), WM_CHAR, static_cast<unsigned char>(bytes[i]), 0);
            }
        }
    }

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
    bool keyboard_ = false;
    termios savedTerminal_ = {};
    struct sigaction savedPipeAction_ = {};
    std::vector<uintptr_t> windows_;
    bool dirty_ = false;
    int shownLines_ = 0;
};

}  // namespace

std::unique_ptr<Front> makeHeadlessFront(const FrontConfig& config) {
    return std::make_unique<HeadlessFront>(config);
}

}  // namespace platform::detail
