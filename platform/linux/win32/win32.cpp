// The Win32 calls the program makes, with the behaviour it relies on: classes,
// windows, the message queue, timers, painting and GDI text. What a window looks like
// is left to the front (GTK or headless); the clock, the user's scheduled actions, the
// screen model and the timer record are the run harness's (platform/linux/run). Everything
// else is decided here, the same for both fronts.
#include <algorithm>
#include <cstring>
#include <map>
#include <optional>
#include <utility>

#include "platform/linux/fronts/fronts.h"
#include "platform/linux/run/harness.h"

namespace detail = platform::detail;

namespace {

using platform::detail::Front;
using platform::detail::front;
using platform::detail::recordTimerCall;
using platform::detail::TextRun;

constexpr UINT minimumTimerMs = 10;  // as USER clamps shorter periods
constexpr int defaultCellHeight = 16;
constexpr int defaultWindowWidth = 500;
constexpr int defaultWindowHeight = 400;

struct WindowClass {
    WNDCLASSA definition;
    std::string name;
    std::string menuName;  // a named menu; an integer resource is kept in menuId
    uintptr_t menuId;
    ATOM atom;
};

struct Timer {
    UINT_PTR id;
    UINT periodMs;
    uint64_t due;
    uint64_t order;  // equal due times fire in the order the timers were set
    TIMERPROC callback;
};

struct Window {
    WNDPROC procedure;
    std::string title;  // code page 932
    int width;
    int height;
    bool visible = false;
    bool needsPaint = false;
    bool destroying = false;
    std::vector<Timer> timers;
};

enum class ObjectKind { Font, Brush };

struct GdiObject {
    ObjectKind kind;
    bool stock;
    int height;
    int width;
    std::string face;  // UTF-8
    COLORREF color;
};

struct DeviceContext {
    uintptr_t window;
    uintptr_t font;
    COLORREF textColor = RGB(0, 0, 0);
    COLORREF backgroundColor = RGB(255, 255, 255);
    int backgroundMode = OPAQUE;
};

// Handles are small numbers dressed as pointers; they are never dereferenced.
constexpr uintptr_t stockFontHandle = 0x100;
constexpr uintptr_t whiteBrushHandle = 0x104;
constexpr uintptr_t arrowCursorHandle = 0x108;
constexpr uintptr_t firstHandle = 0x10000;

struct State {
    std::vector<WindowClass> classes;
    std::map<uintptr_t, Window> windows;
    std::map<uintptr_t, GdiObject> objects;
    std::map<uintptr_t, DeviceContext> contexts;
    std::vector<MSG> queue;
    bool quitPosted = false;
    int quitCode = 0;
    uint64_t timerOrder = 0;
    uintptr_t nextHandle = firstHandle;
    ATOM nextAtom = 0xC000;
};

State& state() {
    static State instance;
    return instance;
}

uintptr_t handleOf(const void* pointer) {
    return reinterpret_cast<uintptr_t>(pointer);
}

template <typename Handle>
Handle makeHandle(uintptr_t value) {
    return reinterpret_cast<Handle>(value);
}

uintptr_t newHandle() {
    State& s = state();
    uintptr_t handle = s.nextHandle;
    s.nextHandle += 16;
    return handle;
}

Window* findWindow(HWND window) {
    auto found = state().windows.find(handleOf(window));
    return found == state().windows.end() ? nullptr : &found->second;
}

DeviceContext* findContext(HDC context) {
    auto found = state().contexts.find(handleOf(context));
    return found == state().contexts.end() ? nullptr : &found->second;
}

// The menu resource `id`, as the program defines it, for the front; none when the program
// defines no such menu.
std::optional<detail::MenuBar> menuFromResource(uintptr_t id) {
    for (int i = 0; id != 0 && i < pmMenuResourceCount; ++i) {
        const PmMenuResource& resource = pmMenuResources[i];
        if (resource.id != id) {
            continue;
        }
        detail::MenuBar bar{detail::cp932ToUtf8(resource.popupText), {}};
        for (int item = 0; item < resource.itemCount; ++item) {
            bar.items.push_back(detail::MenuItem{detail::cp932ToUtf8(resource.items[item].text),
                                                 resource.items[item].command});
        }
        return bar;
    }
    return std::nullopt;
}

const WindowClass* findClass(LPCSTR name) {
    for (const WindowClass& windowClass : state().classes) {
        if (IS_INTRESOURCE(name) ? windowClass.atom == handleOf(name) : windowClass.name == name) {
            return &windowClass;
        }
    }
    return nullptr;
}

LRESULT send(uintptr_t window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto found = state().windows.find(window);
    if (found == state().windows.end()) {
        return 0;
    }
    return found->second.procedure(makeHandle<HWND>(window), message, wParam, lParam);
}

// The first window still open: the one the user's scheduled actions go to.
uintptr_t firstWindow() {
    State& s = state();
    for (const auto& [handle, window] : s.windows) {
        if (!window.destroying) {
            return handle;
        }
    }
    return 0;
}

void deliverScheduled(uint64_t now) {
    for (const platform::detail::ScheduledInput& input : platform::detail::takeDueInputs(now)) {
        uintptr_t window = firstWindow();
        if (window != 0) {
            PostMessageA(makeHandle<HWND>(window), input.message, input.wParam, 0);
        }
    }
}

// The earliest due timer of any window: (window, index), or window 0 for none.
std::pair<uintptr_t, size_t> earliestTimer() {
    std::pair<uintptr_t, size_t> best{0, 0};
    const Timer* bestTimer = nullptr;
    for (auto& [handle, window] : state().windows) {
        for (size_t i = 0; i < window.timers.size(); ++i) {
            const Timer& timer = window.timers[i];
            if (bestTimer == nullptr || timer.due < bestTimer->due ||
                (timer.due == bestTimer->due && timer.order < bestTimer->order)) {
                bestTimer = &timer;
                best = {handle, i};
            }
        }
    }
    return best;
}

std::optional<uint64_t> nextDeadline() {
    State& s = state();
    std::optional<uint64_t> deadline;
    auto [window, index] = earliestTimer();
    if (window != 0) {
        deadline = s.windows[window].timers[index].due;
    }
    const std::optional<uint64_t> scheduled = platform::detail::nextScheduledMicros();
    if (scheduled && (!deadline || *scheduled < *deadline)) {
        deadline = scheduled;
    }
    return deadline;
}

bool takeMessage(MSG* message) {
    State& s = state();
    uint64_t now = platform::detail::nowMicros();
    deliverScheduled(now);
    auto fill = [&](uintptr_t window, UINT id, WPARAM wParam, LPARAM lParam) {
        *message = MSG{makeHandle<HWND>(window),       id,         wParam, lParam,
                       static_cast<DWORD>(now / 1000), POINT{0, 0}};
    };
    if (!s.queue.empty()) {
        *message = s.queue.front();
        s.queue.erase(s.queue.begin());
        return true;
    }
    if (s.quitPosted) {
        s.quitPosted = false;
        fill(0, WM_QUIT, static_cast<WPARAM>(s.quitCode), 0);
        return true;
    }
    for (const auto& [handle, window] : s.windows) {
        if (window.needsPaint && window.visible) {
            fill(handle, WM_PAINT, 0, 0);
            return true;
        }
    }
    auto [window, index] = earliestTimer();
    if (window != 0) {
        Timer& timer = s.windows[window].timers[index];
        if (timer.due <= now) {
            // Expiries missed while the program was busy fold into this one message.
            uint64_t period = static_cast<uint64_t>(timer.periodMs) * 1000;
            while (timer.due <= now) {
                timer.due += period;
            }
            fill(window, WM_TIMER, timer.id, reinterpret_cast<LPARAM>(timer.callback));
            return true;
        }
    }
    return false;
}

bool isMsGothic(const std::string& face) {
    return face == "ＭＳ ゴシック" || face == "MS Gothic";
}

}  // namespace

namespace platform::detail {

void resetWin32() {
    state() = State{};
}

void postInput(uintptr_t window, UINT message, WPARAM wParam, LPARAM lParam) {
    PostMessageA(makeHandle<HWND>(window), message, wParam, lParam);
}

void sendClose(uintptr_t window) {
    send(window, WM_CLOSE, 0, 0);
}

}  // namespace platform::detail

ATOM RegisterClassA(const WNDCLASSA* windowClass) {
    if (windowClass == nullptr || windowClass->lpfnWndProc == nullptr ||
        windowClass->lpszClassName == nullptr || IS_INTRESOURCE(windowClass->lpszClassName) ||
        findClass(windowClass->lpszClassName) != nullptr) {
        return 0;
    }
    State& s = state();
    WindowClass entry{*windowClass, windowClass->lpszClassName, "", 0, s.nextAtom++};
    if (windowClass->lpszMenuName != nullptr) {
        if (IS_INTRESOURCE(windowClass->lpszMenuName)) {
            entry.menuId = handleOf(windowClass->lpszMenuName);
        } else {
            entry.menuName = windowClass->lpszMenuName;
        }
    }
    entry.definition.lpszClassName = nullptr;
    entry.definition.lpszMenuName = nullptr;
    s.classes.push_back(entry);
    return entry.atom;
}

HCURSOR LoadCursorA(HINSTANCE instance, LPCSTR cursorName) {
    if (instance == nullptr && cursorName == IDC_ARROW) {
        return makeHandle<HCURSOR>(arrowCursorHandle);
    }
    return nullptr;
}

HGDIOBJ GetStockObject(int object) {
    return object == WHITE_BRUSH ? makeHandle<HGDIOBJ>(whiteBrushHandle) : nullptr;
}

HWND CreateWindowExA(DWORD /*exStyle*/, LPCSTR className, LPCSTR windowName, DWORD /*style*/,
                     int /*x*/, int /*y*/, int width, int height, HWND /*parent*/, HMENU /*menu*/,
                     HINSTANCE /*instance*/, LPVOID /*param*/) {
    const WindowClass* windowClass = className == nullptr ? nullptr : findClass(className);
    if (windowClass == nullptr) {
        return nullptr;
    }
    State& s = state();
    uintptr_t handle = newHandle();
    Window window;
    window.procedure = windowClass->definition.lpfnWndProc;
    window.title = windowName == nullptr ? "" : windowName;
    window.width = width == CW_USEDEFAULT ? defaultWindowWidth : width;
    window.height = height == CW_USEDEFAULT ? defaultWindowHeight : height;
    s.windows.emplace(handle, window);
    // Menus are not made at run time here: a window's menu is its class's resource.
    const std::optional<detail::MenuBar> menuBar = menuFromResource(windowClass->menuId);
    front().createWindow(handle, detail::cp932ToUtf8(window.title), menuBar ? &*menuBar : nullptr,
                         window.width, window.height);
    if (send(handle, WM_CREATE, 0, 0) == -1) {
        DestroyWindow(makeHandle<HWND>(handle));
        return nullptr;
    }
    return makeHandle<HWND>(handle);
}

BOOL ShowWindow(HWND window, int showCommand) {
    Window* target = findWindow(window);
    if (target == nullptr) {
        return FALSE;
    }
    bool wasVisible = target->visible;
    bool visible = showCommand != SW_HIDE;
    if (visible && !wasVisible) {
        target->needsPaint = true;
    }
    target->visible = visible;
    front().showWindow(handleOf(window), visible);
    return wasVisible ? TRUE : FALSE;
}

BOOL UpdateWindow(HWND window) {
    Window* target = findWindow(window);
    if (target == nullptr) {
        return FALSE;
    }
    if (target->needsPaint && target->visible) {
        send(handleOf(window), WM_PAINT, 0, 0);
    }
    return TRUE;
}

BOOL InvalidateRect(HWND window, const RECT* /*rect*/, BOOL /*erase*/) {
    Window* target = findWindow(window);
    if (target == nullptr) {
        return FALSE;
    }
    target->needsPaint = true;
    return TRUE;
}

BOOL DestroyWindow(HWND window) {
    Window* target = findWindow(window);
    if (target == nullptr || target->destroying) {
        return FALSE;
    }
    target->destroying = true;
    send(handleOf(window), WM_DESTROY, 0, 0);
    State& s = state();
    s.windows.erase(handleOf(window));
    for (auto context = s.contexts.begin(); context != s.contexts.end();) {
        context = context->second.window == handleOf(window) ? s.contexts.erase(context)
                                                             : std::next(context);
    }
    front().destroyWindow(handleOf(window));
    return TRUE;
}

UINT_PTR SetTimer(HWND window, UINT_PTR id, UINT elapseMs, TIMERPROC callback) {
    Window* target = findWindow(window);
    if (target == nullptr) {
        recordTimerCall(true, window, id, elapseMs, false);
        return 0;
    }
    State& s = state();
    UINT period = std::max(elapseMs, minimumTimerMs);
    Timer timer{id, period, detail::nowMicros() + static_cast<uint64_t>(period) * 1000,
                s.timerOrder++, callback};
    auto existing = std::find_if(target->timers.begin(), target->timers.end(),
                                 [id](const Timer& t) { return t.id == id; });
    if (existing != target->timers.end()) {
        *existing = timer;
    } else {
        target->timers.push_back(timer);
    }
    recordTimerCall(true, window, id, elapseMs, true);
    return id == 0 ? 1 : id;
}

BOOL KillTimer(HWND window, UINT_PTR id) {
    Window* target = findWindow(window);
    bool killed = false;
    if (target != nullptr) {
        auto existing = std::find_if(target->timers.begin(), target->timers.end(),
                                     [id](const Timer& t) { return t.id == id; });
        if (existing != target->timers.end()) {
            target->timers.erase(existing);
            killed = true;
        }
    }
    recordTimerCall(false, window, id, 0, killed);
    return killed ? TRUE : FALSE;
}

BOOL GetMessageA(MSG* message, HWND window, UINT /*filterMin*/, UINT /*filterMax*/) {
    if (message == nullptr || (window != nullptr && findWindow(window) == nullptr)) {
        return -1;
    }
    State& s = state();
    for (;;) {
        if (takeMessage(message)) {
            return message->message == WM_QUIT ? FALSE : TRUE;
        }
        std::optional<uint64_t> deadline = nextDeadline();
        if (!front().wait(deadline)) {
            // Nothing is left that could ever produce a message.
            s.quitPosted = true;
            s.quitCode = platform::detail::runConfig().idleQuitCode;
        }
    }
}

BOOL TranslateMessage(const MSG* /*message*/) {
    // Key presses reach the program already as WM_CHAR, so there is nothing to translate.
    return FALSE;
}

LRESULT DispatchMessageA(const MSG* message) {
    if (message == nullptr || findWindow(message->hwnd) == nullptr) {
        return 0;
    }
    if (message->message == WM_TIMER && message->lParam != 0) {
        reinterpret_cast<TIMERPROC>(message->lParam)(message->hwnd, WM_TIMER, message->wParam,
                                                     message->time);
        return 0;
    }
    return send(handleOf(message->hwnd), message->message, message->wParam, message->lParam);
}

LRESULT DefWindowProcA(HWND window, UINT message, WPARAM /*wParam*/, LPARAM /*lParam*/) {
    if (findWindow(window) == nullptr) {
        return 0;
    }
    if (message == WM_CLOSE) {
        DestroyWindow(window);
    } else if (message == WM_PAINT) {
        PAINTSTRUCT paint;
        BeginPaint(window, &paint);
        EndPaint(window, &paint);
    }
    return 0;
}

namespace {

void appendUtf8(std::string& out, uint32_t code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

// One UTF-8 character's code point (the text comes from our own converter).
uint32_t codePointOf(const std::string& utf8) {
    const auto lead = static_cast<unsigned char>(utf8[0]);
    if (lead < 0x80) {
        return lead;
    }
    const int extra = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : 1;
    uint32_t code = lead & (0x3F >> extra);
    for (int k = 1; k <= extra && k < static_cast<int>(utf8.size()); ++k) {
        code = (code << 6) | (static_cast<unsigned char>(utf8[static_cast<size_t>(k)]) & 0x3F);
    }
    return code;
}

}  // namespace

LRESULT DefWindowProcW(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != WM_SETTEXT) {
        return DefWindowProcA(window, message, wParam, lParam);
    }
    auto found = state().windows.find(handleOf(window));
    if (found == state().windows.end()) {
        return FALSE;
    }
    std::string utf8;
    const auto* text = reinterpret_cast<LPCWSTR>(lParam);
    for (size_t i = 0; text != nullptr && text[i] != 0; ++i) {
        uint32_t code = text[i];
        if (code >= 0xD800 && code < 0xDC00 && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
            code = 0x10000 + ((code - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        }
        appendUtf8(utf8, code);
    }
    found->second.title = detail::utf8ToCp932(utf8);
    front().setTitle(handleOf(window), utf8);
    return TRUE;
}

UINT GetACP() {
    return 932;
}

int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR text, int length, LPWSTR wide,
                        int wideLength) {
    if ((codePage != 932 && codePage != CP_ACP) || text == nullptr || length == 0 || length < -1 ||
        wideLength < 0 || (wideLength > 0 && wide == nullptr)) {
        return 0;
    }
    const int bytes = length == -1 ? static_cast<int>(std::strlen(text)) + 1 : length;
    std::u16string units;
    for (const detail::TextCell& cell : detail::decodeCp932(text, bytes)) {
        const uint32_t code = codePointOf(cell.utf8);
        // Code page 932 has no U+FFFD of its own: it marks a byte that is no character.
        if (code == 0xFFFD && (flags & MB_ERR_INVALID_CHARS) != 0) {
            return 0;
        }
        if (code >= 0x10000) {
            units += static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10));
            units += static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF));
        } else {
            units += static_cast<char16_t>(code);
        }
    }
    const int needed = static_cast<int>(units.size());
    if (wideLength == 0) {
        return needed;
    }
    if (wideLength < needed) {
        return 0;
    }
    std::copy(units.begin(), units.end(), wide);
    return needed;
}

void PostQuitMessage(int exitCode) {
    State& s = state();
    s.quitPosted = true;
    s.quitCode = exitCode;
}

BOOL PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (findWindow(window) == nullptr) {
        return FALSE;
    }
    state().queue.push_back(MSG{window, message, wParam, lParam,
                                static_cast<DWORD>(detail::nowMicros() / 1000), POINT{0, 0}});
    return TRUE;
}

HDC BeginPaint(HWND window, PAINTSTRUCT* paint) {
    Window* target = findWindow(window);
    if (target == nullptr || paint == nullptr) {
        return nullptr;
    }
    HDC context = GetDC(window);
    *paint = PAINTSTRUCT{};
    paint->hdc = context;
    paint->rcPaint = RECT{0, 0, target->width, target->height};
    if (target->needsPaint) {
        // The class brush is white; the erase wipes everything drawn so far.
        paint->fErase = FALSE;
        platform::detail::clearScreen();
        front().eraseWindow(handleOf(window), RGB(255, 255, 255));
        front().screenChanged();
        target->needsPaint = false;
    }
    return context;
}

BOOL EndPaint(HWND window, const PAINTSTRUCT* paint) {
    if (findWindow(window) == nullptr || paint == nullptr) {
        return FALSE;
    }
    ReleaseDC(window, paint->hdc);
    return TRUE;
}

HDC GetDC(HWND window) {
    if (findWindow(window) == nullptr) {
        return nullptr;
    }
    uintptr_t handle = newHandle();
    state().contexts.emplace(handle, DeviceContext{handleOf(window), stockFontHandle});
    return makeHandle<HDC>(handle);
}

int ReleaseDC(HWND window, HDC context) {
    DeviceContext* found = findContext(context);
    if (found == nullptr || found->window != handleOf(window)) {
        return 0;
    }
    state().contexts.erase(handleOf(context));
    return 1;
}

HFONT CreateFontA(int height, int width, int /*escapement*/, int /*orientation*/, int /*weight*/,
                  DWORD /*italic*/, DWORD /*underline*/, DWORD /*strikeOut*/, DWORD /*charSet*/,
                  DWORD /*outPrecision*/, DWORD /*clipPrecision*/, DWORD /*quality*/,
                  DWORD /*pitchAndFamily*/, LPCSTR faceName) {
    uintptr_t handle = newHandle();
    state().objects.emplace(
        handle, GdiObject{ObjectKind::Font, false, height, width,
                          faceName == nullptr ? std::string() : detail::cp932ToUtf8(faceName), 0});
    return makeHandle<HFONT>(handle);
}

HGDIOBJ SelectObject(HDC context, HGDIOBJ object) {
    DeviceContext* found = findContext(context);
    if (found == nullptr) {
        return nullptr;
    }
    uintptr_t handle = handleOf(object);
    if (handle == stockFontHandle) {
        return makeHandle<HGDIOBJ>(std::exchange(found->font, handle));
    }
    auto selected = state().objects.find(handle);
    if (selected == state().objects.end() || selected->second.kind != ObjectKind::Font) {
        // Brushes matter to nothing the program draws; selecting one is harmless.
        return selected == state().objects.end() ? nullptr : object;
    }
    return makeHandle<HGDIOBJ>(std::exchange(found->font, handle));
}

BOOL DeleteObject(HGDIOBJ object) {
    uintptr_t handle = handleOf(object);
    if (handle == stockFontHandle || handle == whiteBrushHandle) {
        return TRUE;
    }
    return state().objects.erase(handle) == 1 ? TRUE : FALSE;
}

COLORREF SetTextColor(HDC context, COLORREF color) {
    DeviceContext* found = findContext(context);
    return found == nullptr ? 0xFFFFFFFF : std::exchange(found->textColor, color);
}

COLORREF SetBkColor(HDC context, COLORREF color) {
    DeviceContext* found = findContext(context);
    return found == nullptr ? 0xFFFFFFFF : std::exchange(found->backgroundColor, color);
}

int SetBkMode(HDC context, int mode) {
    DeviceContext* found = findContext(context);
    if (found == nullptr || (mode != OPAQUE && mode != TRANSPARENT)) {
        return 0;
    }
    return std::exchange(found->backgroundMode, mode);
}

BOOL TextOutA(HDC context, int x, int y, LPCSTR text, int length) {
    DeviceContext* found = findContext(context);
    if (found == nullptr || text == nullptr || length < 0) {
        return FALSE;
    }
    State& s = state();
    TextRun run{x,
                y,
                detail::decodeCp932(text, length),
                0,
                defaultCellHeight,
                found->textColor,
                found->backgroundColor,
                found->backgroundMode == OPAQUE,
                ""};
    auto font = s.objects.find(found->font);
    if (font != s.objects.end()) {
        int height = font->second.height < 0 ? -font->second.height : font->second.height;
        run.cellHeight = height == 0 ? defaultCellHeight : height;
        run.face = font->second.face;
        run.cellWidth = font->second.width;
    }
    if (run.cellWidth <= 0) {
        run.cellWidth = run.cellHeight / 2;
    }
    if (isMsGothic(run.face)) {
        run.face = "IPAGothic";
    }
    std::string utf8;
    int cells = 0;
    for (const detail::TextCell& cell : run.characters) {
        utf8 += cell.utf8;
        cells += cell.cells;
    }
    int width = cells * run.cellWidth;
    const bool screenChanged =
        platform::detail::putScreenText(x, y, width, run.cellHeight, run.opaque, utf8);
    uintptr_t window = found->window;
    front().drawText(window, run);
    platform::detail::reportDrawn(x, y, utf8);
    if (screenChanged) {
        front().screenChanged();
    }
    return TRUE;
}
