// Between the window machinery (win32.cpp) and the fronts that show it: the GTK front
// paints real windows; the headless front only waits and keeps the terminal readout.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/run/run.h"

namespace platform::detail {

// One character of a drawn text, in the cells of the selected font.
struct TextCell {
    std::string utf8;
    int cells;  // 1 for a single-byte character, 2 for a double-byte one
};

struct TextRun {
    int x;
    int y;
    std::vector<TextCell> characters;
    int cellWidth;   // pixels
    int cellHeight;  // pixels
    COLORREF textColor;
    COLORREF backgroundColor;
    bool opaque;
    std::string face;  // UTF-8
};

// Splits code-page-932 bytes into characters, each converted to UTF-8 (an undecodable
// byte becomes U+FFFD and takes one cell).
std::vector<TextCell> decodeCp932(const char* bytes, int length);
std::string cp932ToUtf8(const std::string& bytes);
std::string utf8ToCp932(const std::string& text);

// A window's menu bar: one popup of items, texts in UTF-8.
struct MenuItem {
    std::string textUtf8;
    WORD command;
};
struct MenuBar {
    std::string popupUtf8;
    std::vector<MenuItem> items;
};

class Front {
public:
    virtual ~Front() = default;
    // `menu` is null for a window without a menu bar.
    virtual void createWindow(uintptr_t /*window*/, const std::string& /*titleUtf8*/,
                              const MenuBar* /*menu*/, int /*width*/, int /*height*/) {}
    virtual void showWindow(uintptr_t /*window*/, bool /*visible*/) {}
    virtual void setTitle(uintptr_t /*window*/, const std::string& /*titleUtf8*/) {}
    virtual void destroyWindow(uintptr_t /*window*/) {}
    virtual void eraseWindow(uintptr_t /*window*/, COLORREF /*color*/) {}
    virtual void drawText(uintptr_t /*window*/, const TextRun& /*run*/) {}
    // The screen's texts changed.
    virtual void screenChanged() {}
    // Returns when an event may have arrived or, at the latest, at `deadline` (clock
    // microseconds); without a deadline only an event ends the wait. Returns false
    // when nothing can ever arrive without a deadline.
    virtual bool wait(std::optional<uint64_t> deadline) = 0;
};

std::unique_ptr<Front> makeHeadlessFront(const FrontConfig& config);
std::unique_ptr<Front> makeGtkFront(const FrontConfig& config);

// For the fronts: what the user did, as Windows would deliver it.
void postInput(uintptr_t window, UINT message, WPARAM wParam, LPARAM lParam);
// Sends WM_CLOSE to the window at once (the user closed it).
void sendClose(uintptr_t window);
uint64_t nowMicros();
bool virtualClock();

}  // namespace platform::detail
