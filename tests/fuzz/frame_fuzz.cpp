// Any 54 bytes from the counter decode to the three counts exactly as a plain,
// independent reading of the frame says: uppercase hex fields or -1, combined in
// 32-bit two's complement; and the frame counts as a measurement exactly when it is
// six well-formed answers in query order.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "core/protocol.h"

namespace {

int64_t referenceField(const uint8_t* field) {
    int64_t value = 0;
    for (int i = 0; i < 4; ++i) {
        const uint8_t c = field[i];
        int digit;
        if (c >= '0' && c <= '9') {
            digit = c - '0';
        } else if (c >= 'A' && c <= 'F') {
            digit = c - 'A' + 10;
        } else {
            return -1;
        }
        value = value * 16 + digit;
    }
    return value;
}

int32_t referenceCount(const uint8_t* frame, int highOffset, int lowOffset) {
    const int64_t combined =
        referenceField(frame + highOffset) * 65536 + referenceField(frame + lowOffset);
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(combined)));
}

// Six answers "M0" + register + "=" + a field that reads as a number + CR, registers
// 0, 1, 2, 3, 6, 7 in that order.
bool referenceWellFormed(const uint8_t* frame) {
    const char registers[] = "012367";
    for (int k = 0; k < 6; ++k) {
        const uint8_t* answer = frame + 9 * k;
        if (answer[0] != 'M' || answer[1] != '0' || answer[2] != registers[k] || answer[3] != '=' ||
            answer[8] != '\r' || referenceField(answer + 4) < 0) {
            return false;
        }
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < static_cast<size_t>(responseFrameLength)) {
        return 0;
    }
    const FrameCounts counts = decodeFrame(data);
    if (counts.liveCount != referenceCount(data, 13, 4) ||
        counts.rangeCount != referenceCount(data, 31, 22) ||
        counts.periodCount != referenceCount(data, 49, 40)) {
        std::abort();
    }
    if (isWellFormedFrame(data) != referenceWellFormed(data)) {
        std::abort();
    }
    return 0;
}
