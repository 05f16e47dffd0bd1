// A recording stand-in for the counter library and the Win32 calls the measurement
// core makes, for unit tests: scripted pending bytes and answers, recorded writes,
// recorded texts and timer calls.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/d2xx.h"
#include "platform/win32.h"

namespace fake {

struct Drawn {
    int x;
    int y;
    std::string bytes;  // exactly the `length` bytes handed to TextOutA
};

struct TimerCall {
    bool set;  // SetTimer; otherwise KillTimer
    UINT_PTR id;
    UINT elapseMs;
};

struct FrameValues {
    uint32_t liveCount;
    uint32_t rangeCount;
    uint32_t periodCount;
};

// What the scripted counter library keeps and is scripted with.
struct D2xxState {
    FT_HANDLE openHandle;  // the handle FT_OpenEx hands out
    bool deviceOpen;
    std::string pending;              // bytes waiting to be read
    std::vector<std::string> writes;  // each FT_Write's bytes
    std::vector<DWORD> readRequests;  // each FT_Read's requested count
    FT_STATUS getStatusResult;
    // Failing writes and reads move no bytes.
    FT_STATUS writeResult;
    FT_STATUS readResult;
    bool readDeliversShort;  // FT_Read reports fewer bytes than asked
    // FT_Write takes nothing and reports its time-out (FT_OK, 0 written), as to a
    // counter that stopped reading; such calls are counted, not kept in `writes`.
    bool writesStall;
    int stalledWrites;
    int closeCalls;
    FT_HANDLE closedHandle;
    // Listing: device count reported at counting call n (1-based), serial-number
    // call results, open result.
    std::function<DWORD(int call)> deviceCountAt;
    std::function<FT_STATUS(int call)> serialStatusAt;
    std::vector<std::string> serialNumbers;
    FT_STATUS openResult;
    int countCalls;
    int serialCalls;
    std::string openedSerial;
    std::vector<std::string> calls;  // names of setup calls with their arguments
    // Answers: called once the six queries of a sequence have been written.
    std::function<void()> onQueries;
    int queriesSinceAnswer;
};

// What the recording Win32 stand-in keeps.
struct Win32State {
    std::vector<Drawn> drawn;
    // The window was invalidated and not yet painted; the last paint erased everything
    // drawn before drawn[erasedBefore].
    bool invalidated;
    size_t erasedBefore;
    int erasures;
    std::vector<TimerCall> timers;
    int contextsOpen;
    int fontsAlive;
    int fontHeight;
    int fontWidth;
    DWORD fontCharSet;
    DWORD fontPitchAndFamily;
    int fontWeight;
    std::string fontFace;
    COLORREF textColor;
    COLORREF backgroundColor;
    int backgroundMode;
    bool fontSelected;
};

// Both stand-ins' records, for tests that drive the program through both; each stand-in
// works on its own part only.
struct State : D2xxState, Win32State {};

extern State state;

// Fresh fake and fresh program state (measurement and connection records).
void reset();
// Opens the fake device and arms the cycle as a successful search would.
void attachDevice();
// The 54 bytes a counter answers to one query sequence.
std::string frame(const FrameValues& values);
std::string frameFields(const char* register0, const char* register1, const char* register2,
                        const char* register3, const char* register6, const char* register7);
// After every query sequence, this frame becomes pending.
void answerWith(std::function<FrameValues()> next);
// The last text drawn at a position and not erased since, or "" if none.
std::string textAt(int x, int y);
// CP932 bytes as UTF-8, through glibc's converter.
std::string utf8(const std::string& cp932);
HWND testWindow();
// Whether a handle is the open fake device.
bool validHandle(FT_HANDLE handle);

}  // namespace fake
