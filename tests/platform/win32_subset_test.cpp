// The Win32 semantics the program relies on, on the headless front with the virtual
// clock: a tiny window procedure records what it receives.
#include <gtest/gtest.h>
#include <iconv.h>

#include <cstdlib>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/run/run.h"
#include "platform/linux/fronts/fronts.h"

// This test program's own resources, as a program gives them to the subset: one menu.
namespace {
constexpr PmMenuItemResource testMenuItems[] = {{"Exit", 100}};
}  // namespace
const PmMenuResource pmMenuResources[] = {{1, "File", testMenuItems, 1}};
const int pmMenuResourceCount = 1;

namespace {

struct Received {
    UINT message;
    WPARAM wParam;
    uint64_t micros;
};

std::vector<Received> received;
// What the window procedure does besides recording; returns -2 to fall through to
// DefWindowProcA.
std::function<LRESULT(HWND, UINT, WPARAM)> behaviour;

LRESULT CALLBACK recordingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    received.push_back({message, wParam, platform::platformNowMicros()});
    if (behaviour) {
        LRESULT result = behaviour(window, message, wParam);
        if (result != -2) {
            return result;
        }
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

constexpr char className[] = "TESTCLASS";

class Win32Subset : public ::testing::Test {
protected:
    void SetUp() override {
        platform::platformStart(platform::FrontConfig{});
        received.clear();
        behaviour = nullptr;
    }

    static ATOM registerTestClass(const char* name = className) {
        WNDCLASSA windowClass = {};
        windowClass.lpfnWndProc = recordingProc;
        windowClass.lpszClassName = name;
        return RegisterClassA(&windowClass);
    }

    static HWND createTestWindow() {
        registerTestClass();
        return CreateWindowExA(0, className, "title", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                               CW_USEDEFAULT, 500, 400, nullptr, nullptr, nullptr, nullptr);
    }

    // The next message as the message loop sees it, with the clock when it came.
    static MSG next(BOOL expected = TRUE) {
        MSG message = {};
        EXPECT_EQ(GetMessageA(&message, nullptr, 0, 0), expected);
        return message;
    }

    static std::vector<UINT> messagesReceived() {
        std::vector<UINT> messages;
        for (const Received& r : received) {
            messages.push_back(r.message);
        }
        return messages;
    }
};

TEST_F(Win32Subset, ClassNamesAreRegisteredOnce) {
    ATOM atom = registerTestClass();
    EXPECT_NE(atom, 0);
    EXPECT_EQ(registerTestClass(), 0);
    EXPECT_NE(registerTestClass("OTHER"), atom);
    EXPECT_EQ(RegisterClassA(nullptr), 0);
}

TEST_F(Win32Subset, WindowCreationSendsCreateBeforeReturning) {
    HWND inside = nullptr;
    behaviour = [&](HWND window, UINT message, WPARAM) -> LRESULT {
        if (message == WM_CREATE) {
            inside = window;
            // The window is usable while it is being created.
            EXPECT_NE(SetTimer(window, 7, 100, nullptr), 0u);
        }
        return -2;
    };
    HWND window = createTestWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(inside, window);
    EXPECT_EQ(messagesReceived(), std::vector<UINT>{WM_CREATE});
}

TEST_F(Win32Subset, WindowCreationFails) {
    EXPECT_EQ(
        CreateWindowExA(0, "NOSUCHCLASS", "", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr),
        nullptr);
    behaviour = [](HWND, UINT message, WPARAM) -> LRESULT {
        return message == WM_CREATE ? -1 : -2;
    };
    EXPECT_EQ(createTestWindow(), nullptr);
    // Refusing creation destroys the window, as Windows does.
    EXPECT_EQ((std::vector<UINT>{WM_CREATE, WM_DESTROY}), messagesReceived());
}

TEST_F(Win32Subset, ShowAndUpdatePaintOnceAndValidate) {
    HWND window = createTestWindow();
    EXPECT_FALSE(ShowWindow(window, SW_SHOWDEFAULT));
    EXPECT_TRUE(ShowWindow(window, SW_SHOWDEFAULT));
    EXPECT_TRUE(UpdateWindow(window));
    EXPECT_EQ((std::vector<UINT>{WM_CREATE, WM_PAINT}), messagesReceived());
    // Painted and validated: the loop has no WM_PAINT left, only the quit.
    PostQuitMessage(0);
    EXPECT_EQ(next(FALSE).message, static_cast<UINT>(WM_QUIT));
}

TEST_F(Win32Subset, TimerTicksAtItsPeriod) {
    HWND window = createTestWindow();
    EXPECT_EQ(SetTimer(window, 1, 100, nullptr), 1u);
    for (uint64_t expected : {100000u, 200000u, 300000u}) {
        MSG message = next();
        EXPECT_EQ(message.message, static_cast<UINT>(WM_TIMER));
        EXPECT_EQ(message.wParam, 1u);
        EXPECT_EQ(platform::platformNowMicros(), expected);
    }
}

TEST_F(Win32Subset, SettingATimerAgainReplacesItAndRestartsItsPeriod) {
    HWND window = createTestWindow();
    SetTimer(window, 1, 100, nullptr);
    platform::platformWaitUntilMicros(80000);
    SetTimer(window, 1, 50, nullptr);
    next();
    EXPECT_EQ(platform::platformNowMicros(), 130000u);
    next();
    EXPECT_EQ(platform::platformNowMicros(), 180000u);
}

TEST_F(Win32Subset, MissedTimerExpiriesFoldIntoOneMessage) {
    HWND window = createTestWindow();
    SetTimer(window, 1, 10, nullptr);
    platform::platformWaitUntilMicros(95000);
    EXPECT_EQ(next().message, static_cast<UINT>(WM_TIMER));
    EXPECT_EQ(platform::platformNowMicros(), 95000u);
    // Nine expiries were missed; only one message came, and the next is at the
    // following expiry.
    EXPECT_EQ(next().message, static_cast<UINT>(WM_TIMER));
    EXPECT_EQ(platform::platformNowMicros(), 100000u);
}

TEST_F(Win32Subset, PostedMessagesComeBeforeTimers) {
    HWND window = createTestWindow();
    SetTimer(window, 1, 10, nullptr);
    platform::platformWaitUntilMicros(50000);
    PostMessageA(window, WM_CHAR, 'a', 0);
    EXPECT_EQ(next().message, static_cast<UINT>(WM_CHAR));
    EXPECT_EQ(next().message, static_cast<UINT>(WM_TIMER));
}

TEST_F(Win32Subset, KilledTimerStops) {
    platform::FrontConfig config;
    config.idleQuitCode = 42;
    config.recordTimerCalls = true;
    platform::platformStart(config);
    HWND window = createTestWindow();
    SetTimer(window, 1, 100, nullptr);
    EXPECT_TRUE(KillTimer(window, 1));
    EXPECT_FALSE(KillTimer(window, 1));
    // No timer and nothing scheduled: in virtual time nothing can happen any more.
    MSG message = next(FALSE);
    EXPECT_EQ(message.wParam, 42u);
    EXPECT_EQ(platform::platformNowMicros(), 0u);
    std::vector<platform::TimerCall> calls = platform::timerCalls();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_TRUE(calls[0].set && calls[0].succeeded && calls[0].elapseMs == 100);
    EXPECT_TRUE(!calls[1].set && calls[1].succeeded);
    EXPECT_TRUE(!calls[2].set && !calls[2].succeeded);
}

TEST_F(Win32Subset, CloseDestroysTheWindowAtOnce) {
    HWND window = createTestWindow();
    SetTimer(window, 1, 100, nullptr);
    behaviour = [](HWND, UINT message, WPARAM) -> LRESULT {
        if (message == WM_DESTROY) {
            PostQuitMessage(5);
        }
        return -2;
    };
    PostMessageA(window, WM_CLOSE, 0, 0);
    MSG message = next();
    EXPECT_EQ(DispatchMessageA(&message), 0);
    EXPECT_EQ((std::vector<UINT>{WM_CREATE, WM_CLOSE, WM_DESTROY}), messagesReceived());
    EXPECT_FALSE(PostMessageA(window, WM_CHAR, 'a', 0));
    EXPECT_FALSE(DestroyWindow(window));
    // The window's timer went with it; the quit comes next.
    message = next(FALSE);
    EXPECT_EQ(message.message, static_cast<UINT>(WM_QUIT));
    EXPECT_EQ(message.wParam, 5u);
}

TEST_F(Win32Subset, QuitComesAfterThePostedMessages) {
    HWND window = createTestWindow();
    PostMessageA(window, WM_COMMAND, 40001, 0);
    PostQuitMessage(0);
    EXPECT_EQ(next().message, static_cast<UINT>(WM_COMMAND));
    EXPECT_EQ(next(FALSE).wParam, 0u);
}

TEST_F(Win32Subset, CallsOnBadWindowHandlesFailWithoutEffect) {
    HWND window = createTestWindow();
    HWND bogus = reinterpret_cast<HWND>(static_cast<uintptr_t>(0xdead0));
    for (HWND bad : {static_cast<HWND>(nullptr), bogus}) {
        PAINTSTRUCT paint = {};
        EXPECT_FALSE(ShowWindow(bad, SW_SHOW));
        EXPECT_FALSE(UpdateWindow(bad));
        EXPECT_FALSE(DestroyWindow(bad));
        EXPECT_EQ(SetTimer(bad, 1, 100, nullptr), 0u);
        EXPECT_FALSE(KillTimer(bad, 1));
        EXPECT_FALSE(PostMessageA(bad, WM_CHAR, 'a', 0));
        EXPECT_EQ(BeginPaint(bad, &paint), nullptr);
        EXPECT_FALSE(EndPaint(bad, &paint));
        EXPECT_EQ(GetDC(bad), nullptr);
        EXPECT_EQ(DefWindowProcA(bad, WM_CLOSE, 0, 0), 0);
        MSG message = {bad, WM_CHAR, 'a', 0, 0, {0, 0}};
        EXPECT_EQ(DispatchMessageA(&message), 0);
    }
    HDC badContext = reinterpret_cast<HDC>(static_cast<uintptr_t>(0xdead0));
    EXPECT_EQ(ReleaseDC(window, badContext), 0);
    EXPECT_EQ(SelectObject(badContext, GetStockObject(WHITE_BRUSH)), nullptr);
    EXPECT_EQ(SetBkMode(badContext, OPAQUE), 0);
    EXPECT_FALSE(TextOutA(badContext, 0, 0, "x", 1));
    EXPECT_FALSE(TextOutA(nullptr, 0, 0, "x", 1));
    EXPECT_FALSE(DeleteObject(reinterpret_cast<HGDIOBJ>(static_cast<uintptr_t>(0xdead0))));
    // Nothing reached the window but its creation, and the screen stayed empty.
    EXPECT_EQ(messagesReceived(), std::vector<UINT>{WM_CREATE});
    EXPECT_TRUE(platform::screenTexts().empty());
    EXPECT_EQ(SetTimer(window, 1, 100, nullptr), 1u);
}

class Drawing : public Win32Subset {
protected:
    void SetUp() override {
        Win32Subset::SetUp();
        window = createTestWindow();
        context = GetDC(window);
        // "ＭＳ ゴシック"
        font = CreateFontA(48, 24, 0, 0, FW_NORMAL, 0, 0, 0, SHIFTJIS_CHARSET, OUT_DEFAULT_PRECIS,
                           CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, FF_MODERN,
                           "\x82\x6c\x82\x72 \x83\x53\x83\x56\x83\x62\x83\x4e");
        previous = SelectObject(context, font);
    }

    void TearDown() override {
        EXPECT_EQ(SelectObject(context, previous), font);
        EXPECT_TRUE(DeleteObject(font));
        EXPECT_EQ(ReleaseDC(window, context), 1);
        EXPECT_EQ(ReleaseDC(window, context), 0);
    }

    void draw(int x, int y, const std::string& cp932) {
        EXPECT_TRUE(TextOutA(context, x, y, cp932.data(), static_cast<int>(cp932.size())));
    }

    static std::vector<std::string> screen() {
        std::vector<std::string> lines;
        for (const platform::ScreenText& text : platform::screenTexts()) {
            lines.push_back("(" + std::to_string(text.x) + "," + std::to_string(text.y) + ") " +
                            text.utf8);
        }
        return lines;
    }

    HWND window = nullptr;
    HDC context = nullptr;
    HFONT font = nullptr;
    HGDIOBJ previous = nullptr;
};

TEST_F(Drawing, TextIsKeptAsUtf8AtItsPosition) {
    std::vector<platform::DrawnText> drawn;
    platform::setDrawHook([&](const platform::DrawnText& text) { drawn.push_back(text); });
    platform::platformWaitUntilMicros(1500);
    // "ｶｳﾝﾄ値 -5        ", "μs    ", "接続デバイスなし     "
    draw(10, 5, "\xb6\xb3\xdd\xc4\x92\x6c -5        ");
    draw(370, 150,
         "\x83\xca"
         "s    ");
    draw(10, 285, "\x90\xda\x91\xb1\x83\x66\x83\x6f\x83\x43\x83\x58\x82\xc8\x82\xb5     ");
    EXPECT_EQ(screen(), (std::vector<std::string>{"(10,5) ｶｳﾝﾄ値 -5        ", "(370,150) μs    ",
                                                  "(10,285) 接続デバイスなし     "}));
    ASSERT_EQ(drawn.size(), 3u);
    EXPECT_EQ(drawn[1].micros, 1500u);
    EXPECT_EQ(drawn[1].utf8, "μs    ");
    // The length counts bytes: a shorter length draws a prefix.
    draw(0, 400, "Hz    ");
    EXPECT_TRUE(TextOutA(context, 0, 400, "Hzzz", 2));
    EXPECT_EQ(screen().back(), "(0,400) Hz");
}

TEST_F(Drawing, OpaqueTextReplacesWhatItCovers) {
    draw(0, 150, "   1000.000___ ");
    draw(0, 150, "  ------------  ");
    // A shorter text at another place fully inside a new opaque one goes too.
    draw(48, 200, "ab");
    draw(0, 200, "123456");
    EXPECT_EQ(screen(), (std::vector<std::string>{"(0,150)   ------------  ", "(0,200) 123456"}));
    // A transparent text covers nothing.
    EXPECT_EQ(SetBkMode(context, TRANSPARENT), OPAQUE);
    draw(0, 200, "x");
    draw(48, 200, "cd");
    EXPECT_EQ(screen().size(), 3u);
}

TEST_F(Drawing, PaintingTheNewlyShownWindowErasesIt) {
    draw(10, 5, "old");
    ShowWindow(window, SW_SHOW);
    UpdateWindow(window);
    EXPECT_TRUE(screen().empty());
    draw(10, 5, "new");
    // Once valid, a paint erases nothing.
    PAINTSTRUCT paint;
    ASSERT_NE(BeginPaint(window, &paint), nullptr);
    EXPECT_TRUE(EndPaint(window, &paint));
    EXPECT_EQ(screen(), std::vector<std::string>{"(10,5) new"});
}

TEST(Cp932, CharactersAndTheirCells) {
    // "ｱ", "μ", "A", a lone lead byte at the end.
    std::vector<platform::detail::TextCell> cells = platform::detail::decodeCp932(
        "\xb1\x83\xca"
        "A\x82",
        5);
    ASSERT_EQ(cells.size(), 4u);
    EXPECT_EQ(cells[0].utf8, "ｱ");
    EXPECT_EQ(cells[0].cells, 1);
    EXPECT_EQ(cells[1].utf8, "μ");
    EXPECT_EQ(cells[1].cells, 2);
    EXPECT_EQ(cells[2].utf8, "A");
    EXPECT_EQ(cells[3].utf8, "\xEF\xBF\xBD");
    // Code page 932, not Shift-JIS: 0x5C is the backslash.
    EXPECT_EQ(platform::detail::cp932ToUtf8("\\"), "\\");
    EXPECT_EQ(platform::detail::utf8ToCp932("ﾌﾟﾛｸﾞﾗﾑ終了"),
              "\xcc\xdf\xdb\xb8\xde\xd7\xd1\x8f\x49\x97\xb9");
}

TEST(Cp932, SingleByteCharactersDecodeAsGlibcConvertsThem) {
    // ASCII and halfwidth katakana skip the converter; they must come out the same.
    iconv_t converter = iconv_open("UTF-8", "CP932");
    ASSERT_NE(converter, reinterpret_cast<iconv_t>(-1));
    for (int byte = 0; byte <= 0xFF; ++byte) {
        if (byte >= 0x80 && !(byte >= 0xA1 && byte <= 0xDF)) {
            continue;
        }
        char in[1] = {static_cast<char>(byte)};
        char out[8] = {};
        char* inPointer = in;
        size_t inLeft = 1;
        char* outPointer = out;
        size_t outLeft = sizeof out;
        ASSERT_NE(iconv(converter, &inPointer, &inLeft, &outPointer, &outLeft),
                  static_cast<size_t>(-1));
        const std::vector<platform::detail::TextCell> cells = platform::detail::decodeCp932(in, 1);
        ASSERT_EQ(cells.size(), 1u);
        EXPECT_EQ(cells[0].utf8, std::string(out, sizeof out - outLeft)) << byte;
        EXPECT_EQ(cells[0].cells, 1);
    }
    iconv_close(converter);
}

TEST(Cp932, MultiByteToWideCharAsWindowsConvertsIt) {
    // "ＴＯＲＶ パ", then its terminating zero.
    const char text[] = "\x82\x73\x82\x6e\x82\x71\x82\x75 \x83\x70";
    EXPECT_EQ(GetACP(), 932u);
    EXPECT_EQ(MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, text, -1, nullptr, 0), 7);
    WCHAR wide[8] = {};
    ASSERT_EQ(MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, text, -1, wide, 8), 7);
    EXPECT_EQ(std::u16string(wide), u"ＴＯＲＶ パ");
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, text, 2, wide, 8), 1);
    // Too small a buffer, a lone lead byte when invalid characters fail, a code page
    // this system does not have: each fails with 0.
    EXPECT_EQ(MultiByteToWideChar(932, 0, text, -1, wide, 6), 0);
    EXPECT_EQ(MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, "A\x82", 2, wide, 8), 0);
    EXPECT_EQ(MultiByteToWideChar(932, 0, "A\x82", 2, wide, 8), 2);
    EXPECT_EQ(MultiByteToWideChar(1252, 0, "A", 1, wide, 8), 0);
}

TEST_F(Win32Subset, DefWindowProcWTakesAUnicodeTitle) {
    HWND window = createTestWindow();
    ASSERT_NE(window, nullptr);
    const WCHAR title[] = u"ＴＯＲＶ";
    EXPECT_EQ(DefWindowProcW(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(title)), TRUE);
    EXPECT_EQ(DefWindowProcW(nullptr, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(title)), FALSE);
}

TEST_F(Win32Subset, ScheduledInputArrivesAtItsTime) {
    HWND window = createTestWindow();
    platform::scheduleText(200000, " +");
    platform::scheduleCommand(300000, 40001);
    MSG message = next();
    EXPECT_EQ(platform::platformNowMicros(), 200000u);
    EXPECT_EQ(message.hwnd, window);
    EXPECT_EQ(message.message, static_cast<UINT>(WM_CHAR));
    EXPECT_EQ(message.wParam, static_cast<WPARAM>(' '));
    EXPECT_EQ(next().wParam, static_cast<WPARAM>('+'));
    message = next();
    EXPECT_EQ(platform::platformNowMicros(), 300000u);
    EXPECT_EQ(message.message, static_cast<UINT>(WM_COMMAND));
    EXPECT_EQ(LOWORD(message.wParam), 40001);
}

}  // namespace

// An environment variable set (or, with null, unset) for one test, then put back.
class EnvironmentVariable {
public:
    EnvironmentVariable(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) {
            saved_ = old;
        }
        value != nullptr ? setenv(name, value, 1) : unsetenv(name);
    }
    ~EnvironmentVariable() { saved_ ? setenv(name_, saved_->c_str(), 1) : unsetenv(name_); }

private:
    const char* name_;
    std::optional<std::string> saved_;
};

TEST(GtkFront, WithoutADisplayIsNotAvailable) {
    EnvironmentVariable x11("DISPLAY", nullptr);
    EnvironmentVariable wayland("WAYLAND_DISPLAY", nullptr);
    std::string why;
    EXPECT_FALSE(platform::gtkAvailable(nullptr, nullptr, &why));
    EXPECT_NE(why.find("no display"), std::string::npos) << why;
}

#ifdef PULSEMETER_GTK_FRONT_MODULE
// Without its module the GTK front is not available, and the reason names the module,
// so that a program started elsewhere than beside it falls back to the terminal and says
// why. This test program is built apart from the module, as an installed program
// without it would be.
TEST(GtkFront, WithoutTheModuleIsNotAvailableAndSaysWhy) {
    EnvironmentVariable x11("DISPLAY", ":0");
    std::string why;
    EXPECT_FALSE(platform::gtkAvailable(nullptr, nullptr, &why));
    EXPECT_NE(why.find(PULSEMETER_GTK_FRONT_MODULE), std::string::npos) << why;
    EXPECT_NE(why.find("cannot open shared object file"), std::string::npos) << why;
}
#endif
