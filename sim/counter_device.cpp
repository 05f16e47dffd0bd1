#include "sim/counter_device.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace sim {

namespace {

constexpr double infinity = std::numeric_limits<double>::infinity();
// Longer commands are cut here; none of the device's commands comes near it.
constexpr size_t maxCommandLength = 64;
// How far an endless stream is always ahead of any reader.
constexpr size_t endlessBacklog = 4096;
constexpr char endlessPattern[] = "M00=FFFF\r";
constexpr size_t endlessPatternLength = sizeof endlessPattern - 1;
// What a stray-bytes fault appends to a frame.
constexpr char strayBytes[] = "\n*\r";
// How much of the last answer of a frame a short-frame fault lets through.
constexpr size_t shortAnswerLength = 5;
constexpr int lastRegister = 7;

uint64_t splitmix64(uint64_t x) {
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

// A reproducible number in [0, 1) for each (seed, index).
double unitNoise(uint64_t seed, uint64_t index) {
    return static_cast<double>(splitmix64(seed ^ splitmix64(index)) >> 11) * 0x1.0p-53;
}

uint64_t secondsToMicros(double seconds) {
    if (!(seconds > 0)) {
        return 0;
    }
    return static_cast<uint64_t>(std::llround(seconds * 1e6));
}

double usableFrequency(double hz) {
    return std::isfinite(hz) && hz > 0 ? hz : 0.0;
}

// The counter registers an edge at the clock tick that follows it: a gate between two
// edges spans the ticks in (start, end], as a reciprocal counter counts them.
uint64_t tickOf(double edgeMicros) {
    return static_cast<uint64_t>(std::floor(edgeMicros));
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// The value of `digits` hexadecimal digits at `text`, or -1.
long hexValue(const std::string& text, size_t at, size_t digits) {
    if (text.size() != at + digits) {
        return -1;
    }
    long value = 0;
    for (size_t i = at; i < text.size(); ++i) {
        int d = hexDigit(text[i]);
        if (d < 0) {
            return -1;
        }
        value = value * 16 + d;
    }
    return value;
}

std::string printable(const std::string& bytes) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : bytes) {
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            out += static_cast<char>(c);
        } else {
            out += "\\x";
            out += hex[c >> 4];
            out += hex[c & 0xF];
        }
    }
    return out;
}

}  // namespace

CounterDevice::CounterDevice(const Scenario& scenario) : scenario_(scenario) {
    jitterFraction_ = std::clamp(scenario.jitterPpm * 1e-6, 0.0, 0.4);
    if (!std::isfinite(jitterFraction_)) {
        jitterFraction_ = 0;
    }

    // The input's phase at power-up is arbitrary; the seed picks it.
    stretches_.push_back({0.0, unitNoise(scenario.seed, 0), usableFrequency(scenario.frequencyHz)});
    std::vector<FrequencyChange> changes(
        scenario.changes,
        scenario.changes + std::clamp(scenario.changeCount, 0, maxFrequencyChanges));
    std::stable_sort(changes.begin(), changes.end(),
                     [](const FrequencyChange& a, const FrequencyChange& b) {
                         return a.atSeconds < b.atSeconds;
                     });
    auto startStretch = [this](double atMicros, double hz) {
        const Stretch& last = stretches_.back();
        atMicros = std::max(atMicros, last.fromMicros);
        stretches_.push_back({atMicros, phaseAt(atMicros), hz});
    };
    for (const FrequencyChange& change : changes) {
        startStretch(static_cast<double>(secondsToMicros(change.atSeconds)),
                     usableFrequency(change.frequencyHz));
    }
    if (scenario.stopAtSeconds >= 0) {
        double stop = static_cast<double>(secondsToMicros(scenario.stopAtSeconds));
        // Changes after the stop no longer matter.
        while (stretches_.size() > 1 && stretches_.back().fromMicros >= stop) {
            stretches_.pop_back();
        }
        startStretch(stop, 0.0);
    }

    gateStartEdge_ = edgesBy(0) + 1;
}

uint64_t CounterDevice::latencyMicros() const {
    return secondsToMicros(scenario_.linkLatencyMs * 1e-3);
}

double CounterDevice::phaseAt(double micros) const {
    auto it = std::upper_bound(stretches_.begin(), stretches_.end(), micros,
                               [](double t, const Stretch& s) { return t < s.fromMicros; });
    const Stretch& s = it == stretches_.begin() ? stretches_.front() : *(it - 1);
    return s.phase + s.frequencyHz * (micros - s.fromMicros) * 1e-6;
}

double CounterDevice::edgeTime(uint64_t k) const {
    const double target = static_cast<double>(k);
    for (size_t i = 0; i < stretches_.size(); ++i) {
        const Stretch& s = stretches_[i];
        const bool last = i + 1 == stretches_.size();
        const double endPhase = last ? infinity : stretches_[i + 1].phase;
        if (s.frequencyHz > 0 && target <= endPhase && target >= s.phase) {
            const double period = 1e6 / s.frequencyHz;
            const double ideal = s.fromMicros + (target - s.phase) * period;
            // Jitter moves each edge by up to jitterFraction_ of a period, the same way
            // every run with the same seed; edges stay inside their stretch, so they stay
            // in order where the frequency changes.
            const double shift = jitterFraction_ * period * (2 * unitNoise(scenario_.seed, k) - 1);
            const double end = last ? infinity : stretches_[i + 1].fromMicros;
            return std::clamp(ideal + shift, s.fromMicros, end);
        }
    }
    return infinity;
}

uint64_t CounterDevice::edgesBy(uint64_t nowMicros) const {
    const double now = static_cast<double>(nowMicros);
    uint64_t count = static_cast<uint64_t>(std::floor(phaseAt(now)));
    // Rounding and jitter can put an edge on either side of `now`; the edge times decide.
    while (count >= 1 && edgeTime(count) > now) {
        --count;
    }
    while (edgeTime(count + 1) <= now) {
        ++count;
    }
    return count;
}

uint64_t CounterDevice::gateInputPeriods() const {
    return 2 * (static_cast<uint64_t>(activeDivider_) + 1);
}

CounterRegisters CounterDevice::registers(uint64_t nowMicros) const {
    const uint64_t edges = edgesBy(nowMicros);
    const uint64_t n = gateInputPeriods();
    uint64_t live;
    uint64_t period = earlierPeriod_;
    if (edges < gateStartEdge_) {
        // No edge since the configuration: the prescaler is still waiting for one.
        live = nowMicros - configuredAt_;
    } else {
        const uint64_t completed = (edges - gateStartEdge_) / n;
        const uint64_t runningStart = tickOf(edgeTime(gateStartEdge_ + completed * n));
        live = nowMicros - runningStart;
        if (completed > 0) {
            period = runningStart - tickOf(edgeTime(gateStartEdge_ + (completed - 1) * n));
        }
    }
    return {static_cast<uint32_t>(live), static_cast<uint32_t>(edges),
            static_cast<uint32_t>(period), activeDivider_};
}

bool CounterDevice::faultActive(FaultKind kind, uint64_t nowMicros) const {
    return faultDuring(kind, nowMicros, nowMicros);
}

bool CounterDevice::faultDuring(FaultKind kind, uint64_t fromMicros, uint64_t toMicros) const {
    const int count = std::clamp(scenario_.faultCount, 0, maxFaults);
    for (int i = 0; i < count; ++i) {
        const FaultWindow& f = scenario_.faults[i];
        if (f.kind != kind) {
            continue;
        }
        const uint64_t from = secondsToMicros(f.fromSeconds);
        const bool endless = f.untilSeconds < 0;
        const uint64_t until = secondsToMicros(f.untilSeconds);
        if (from <= toMicros && (endless || until > fromMicros)) {
            return true;
        }
    }
    return false;
}

bool CounterDevice::unplugged(uint64_t nowMicros) const {
    return faultActive(FaultKind::Unplugged, nowMicros);
}

void CounterDevice::loseLinkIfUnpluggedSince(uint64_t nowMicros) {
    if (faultDuring(FaultKind::Unplugged, lastCallMicros_, nowMicros)) {
        outgoing_.clear();
        headOffset_ = 0;
        partial_.clear();
        sequenceOpen_ = false;
    }
    lastCallMicros_ = std::max(lastCallMicros_, nowMicros);
}

void CounterDevice::receive(const char* bytes, size_t n, uint64_t nowMicros) {
    loseLinkIfUnpluggedSince(nowMicros);
    if (unplugged(nowMicros) || bytes == nullptr) {
        return;
    }
    for (size_t i = 0; i < n; ++i) {
        const char c = bytes[i];
        if (c == '\r') {
            std::string command;
            command.swap(partial_);
            takeCommand(command, nowMicros);
        } else if (c != '\n' && partial_.size() < maxCommandLength) {
            partial_ += c;
        }
    }
}

void CounterDevice::takeCommand(const std::string& command, uint64_t nowMicros) {
    commands_.push_back(command);
    log(nowMicros, '>', command);

    if (command.size() == 3 && command[0] == 'M' && command[1] == '0' && command[2] >= '0' &&
        command[2] <= '0' + lastRegister) {
        answerQuery(command[2] - '0', nowMicros);
        return;
    }
    sequenceOpen_ = false;
    if (command.compare(0, 4, "M020") == 0) {
        long low = hexValue(command, 4, 4);
        if (low >= 0) {
            pendingDivider_ = (pendingDivider_ & 0xFF0000u) | static_cast<uint32_t>(low);
        }
    } else if (command.compare(0, 6, "M03000") == 0) {
        long high = hexValue(command, 6, 2);
        if (high >= 0) {
            pendingDivider_ = (pendingDivider_ & 0xFFFFu) | (static_cast<uint32_t>(high) << 16);
        }
    } else if (command == "M008") {
        // The last command of the configuration: the prescaler restarts with the new ratio,
        // the last completed gate stays readable until a new one completes.
        earlierPeriod_ = registers(nowMicros).periodCount;
        activeDivider_ = pendingDivider_;
        configuredAt_ = nowMicros;
        gateStartEdge_ = edgesBy(nowMicros) + 1;
    }
    // Every other command (the rest of the configuration, unknown text) changes nothing.
}

void CounterDevice::answerQuery(int reg, uint64_t nowMicros) {
    // A query for a register no higher than the one before starts a new sequence; all
    // answers of a sequence come from the registers as they stood at its first query.
    if (!sequenceOpen_ || reg <= lastQueried_) {
        snapshot_ = registers(nowMicros);
        sequenceOpen_ = true;
    }
    lastQueried_ = reg;
    if (faultActive(FaultKind::Silent, nowMicros)) {
        return;
    }

    uint32_t value = 0;
    switch (reg) {
        case 0:
            value = snapshot_.liveCount;
            break;
        case 1:
            value = snapshot_.liveCount >> 16;
            break;
        case 2:
            value = snapshot_.rangeCount;
            break;
        case 3:
            value = snapshot_.rangeCount >> 16;
            break;
        case 4:
            value = snapshot_.divider;
            break;
        case 5:
            value = snapshot_.divider >> 16;
            break;
        case 6:
            value = snapshot_.periodCount;
            break;
        default:
            value = snapshot_.periodCount >> 16;
            break;
    }
    static const char upper[] = "0123456789ABCDEF";
    static const char lower[] = "0123456789abcdef";
    const bool malformed = faultActive(FaultKind::MalformedFields, nowMicros);
    std::string answer = "M0";
    answer += static_cast<char>('0' + reg);
    answer += '=';
    bool letter = false;
    for (int shift = 12; shift >= 0; shift -= 4) {
        const unsigned digit = (value >> shift) & 0xF;
        answer += (malformed ? lower : upper)[digit];
        letter = letter || digit >= 10;
    }
    if (malformed && !letter) {
        // Lowercase alone would not spoil a field of decimal digits.
        answer[4] = 'x';
    }
    answer += '\r';
    if (reg == lastRegister) {
        if (faultActive(FaultKind::ShortFrame, nowMicros)) {
            answer.resize(shortAnswerLength);
        }
        if (faultActive(FaultKind::StrayBytes, nowMicros)) {
            answer += strayBytes;
        }
    }
    send(std::move(answer), nowMicros);
}

void CounterDevice::send(std::string bytes, uint64_t nowMicros) {
    std::string shown = bytes;
    if (!shown.empty() && shown.back() == '\r') {
        shown.pop_back();
    }
    log(nowMicros, '<', shown);
    outgoing_.push_back({nowMicros + latencyMicros(), std::move(bytes)});
}

void CounterDevice::log(uint64_t nowMicros, char direction, const std::string& text) const {
    if (scenario_.deviceLog == nullptr) {
        return;
    }
    std::string fraction = std::to_string(1000 + nowMicros % 1000).substr(1);
    std::string line = std::to_string(nowMicros / 1000) + "." + fraction + " " + direction + " " +
                       printable(text) + "\n";
    std::fputs(line.c_str(), scenario_.deviceLog);
}

size_t CounterDevice::readableBytes(uint64_t nowMicros) {
    loseLinkIfUnpluggedSince(nowMicros);
    if (unplugged(nowMicros)) {
        return 0;
    }
    size_t count = 0;
    for (const Chunk& chunk : outgoing_) {
        if (chunk.readyAt > nowMicros) {
            break;
        }
        count += chunk.bytes.size();
    }
    count -= headOffset_;
    if (faultActive(FaultKind::EndlessStream, nowMicros)) {
        count += endlessBacklog;
    }
    return count;
}

size_t CounterDevice::read(char* out, size_t max, uint64_t nowMicros) {
    loseLinkIfUnpluggedSince(nowMicros);
    if (unplugged(nowMicros) || out == nullptr) {
        return 0;
    }
    size_t got = 0;
    while (got < max && !outgoing_.empty() && outgoing_.front().readyAt <= nowMicros) {
        const std::string& bytes = outgoing_.front().bytes;
        const size_t take = std::min(max - got, bytes.size() - headOffset_);
        std::copy_n(bytes.data() + headOffset_, take, out + got);
        got += take;
        headOffset_ += take;
        if (headOffset_ == bytes.size()) {
            outgoing_.pop_front();
            headOffset_ = 0;
        }
    }
    if (faultActive(FaultKind::EndlessStream, nowMicros)) {
        for (; got < max; ++got) {
            out[got] = endlessPattern[streamOffset_++ % endlessPatternLength];
        }
    }
    return got;
}

uint64_t CounterDevice::nextArrivalMicros(uint64_t nowMicros) const {
    if (faultActive(FaultKind::EndlessStream, nowMicros)) {
        return nowMicros;
    }
    uint64_t next = std::numeric_limits<uint64_t>::max();
    for (const Chunk& chunk : outgoing_) {
        if (chunk.readyAt > nowMicros) {
            next = chunk.readyAt;
            break;
        }
    }
    const int count = std::clamp(scenario_.faultCount, 0, maxFaults);
    for (int i = 0; i < count; ++i) {
        const FaultWindow& f = scenario_.faults[i];
        const uint64_t from = secondsToMicros(f.fromSeconds);
        if (f.kind == FaultKind::EndlessStream && from > nowMicros) {
            next = std::min(next, from);
        }
    }
    return next;
}

}  // namespace sim
