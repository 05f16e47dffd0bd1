// Any 54 bytes from the counter decode to the three counts exactly as a plain,
// independent reading of the frame says: uppercase hex fields or -1, combined in
// 32-bit two's complement.
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
    return 0;
}
