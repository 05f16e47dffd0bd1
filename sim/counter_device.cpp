#include "sim/counter_device.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "sim/sim.h"

namespace sim {

namespace {

constexpr double infinity = std::numeric_limits<double>::infinity();
// Longer commands are cut here; none of the device's commands comes near it.
constexpr size_t maxCommandLength = 64;
// How far an endless stream is always ahead of any reader.
constexpr size_t endlessBacklog = 4096;
constexpr char endlessPattern[] = "M00=FFFF\r";
constexpr size_t endlessPatternLength = sizeof endlessPattern - 1;
// A flood fills the link at about 100 kB/s, faster than any reader takes it.
constexpr uint64_t floodMicrosPerByte = 10;
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
    // About 290000 years: later than any run gets, and still a defined conversion.
    constexpr double latest = 9e18;
    return static_cast<uint64_t>(std::llround(std::min(seconds * 1e6, latest)));
}

double usableFrequency(double hz) {
    return std::isfinite(hz) && hz > 0 ? hz : 0.0;
}

// The counter registers an edge at the clock tick that follows it: a gate between two
// edges spans the ticks in (start, end], as a reciprocal counter counts them.
uint64_t tickOf(double edgeMicros) {
    constexpr double lastTick = 1.8e19;  // just below 2^64
    return edgeMicros < lastTick ? static_cast<uint64_t>(std::floor(edgeMicros)) : UINT64_MAX;
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

CounterDevice::CounterDevice(const Scenario& scenario, int index) : scenario_(scenario) {
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

    for (int i = 0; i < std::clamp(scenario.faultCount, 0, maxFaults); ++i) {
        const FaultWindow& f = scenario.faults[i];
        if (f.device >= 0 && f.device != index) {
            continue;
        }
        faults_.push_back({f.kind, secondsToMicros(f.fromSeconds),
                           f.untilSeconds < 0 ? std::numeric_limits<uint64_t>::max()
                                              : secondsToMicros(f.untilSeconds)});
    }
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
    // Far beyond any run (10 MHz for 50000 years) but keeps the conversion defined.
    constexpr double mostEdges = 1e19;
    uint64_t count = static_cast<uint64_t>(std::floor(std::min(phaseAt(now), mostEdges)));
    // Rounding and jitter (under half a period) put an edge at most one or two places
    // off; the edge times decide. The bound only matters where doubles no longer tell
    // edges apart.
    for (int moves = 0; moves < 4 && count >= 1 && edgeTime(count) > now; ++moves) {
        --count;
    }
    for (int moves = 0; moves < 4 && edgeTime(count + 1) <= now; ++moves) {
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
    for (const Fault& f : faults_) {
        if (f.kind == kind && f.fromMicros <= toMicros && f.untilMicros > fromMicros) {
            return true;
        }
    }
    return false;
}

bool CounterDevice::unplugged(uint64_t nowMicros) const {
    return faultActive(FaultKind::Unplugged, nowMicros);
}

bool CounterDevice::unpluggedBetween(uint64_t fromMicros, uint64_t toMicros) const {
    return faultDuring(FaultKind::Unplugged, fromMicros, toMicros);
}

std::vector<CounterDevice::PlugChange> CounterDevice::plugChanges() const {
    std::vector<Fault> windows;
    for (const Fault& f : faults_) {
        if (f.kind == FaultKind::Unplugged && f.untilMicros > f.fromMicros) {
            windows.push_back(f);
        }
    }
    std::sort(windows.begin(), windows.end(),
              [](const Fault& a, const Fault& b) { return a.fromMicros < b.fromMicros; });
    // Overlapping or touching windows are one spell off the bus.
    std::vector<PlugChange> changes;
    for (const Fault& f : windows) {
        if (!changes.empty() && changes.back().plugged && changes.back().atMicros >= f.fromMicros) {
            if (f.untilMicros == std::numeric_limits<uint64_t>::max()) {
                changes.pop_back();
            } else {
                changes.back().atMicros = std::max(changes.back().atMicros, f.untilMicros);
            }
            continue;
        }
        if (!changes.empty() && !changes.back().plugged) {
            continue;  // off for ever already
        }
        changes.push_back({f.fromMicros, false});
        if (f.untilMicros != std::numeric_limits<uint64_t>::max()) {
            changes.push_back({f.untilMicros, true});
        }
    }
    return changes;
}

void CounterDevice::logNote(uint64_t nowMicros, const std::string& text) const {
    if (scenario_.deviceLog == nullptr) {
        return;
    }
    std::string line = formatMillis(nowMicros) + " " + text + "\n";
    std::fputs(line.c_str(), scenario_.deviceLog);
}

void CounterDevice::loseLinkIfUnpluggedSince(uint64_t nowMicros) {
    if (faultDuring(FaultKind::Unplugged, lastCallMicros_, nowMicros)) {
        outgoing_.clear();
        queuedBytes_ = 0;
        headOffset_ = 0;
        lineFreeAt_ = 0;
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
    if (commands_.size() == 2 * keptCommands) {
        commands_.erase(commands_.begin(), commands_.begin() + keptCommands);
    }
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
        if (!heldBack_.empty() && faultActive(FaultKind::OutOfStep, nowMicros)) {
            send(std::move(heldBack_), nowMicros);
        }
        heldBack_.clear();
    }
    lastQueried_ = reg;
    if (faultActive(FaultKind::Silent, nowMicros)) {
        return;
    }

    // Two registers to a count, the high word at the odd one.
    const uint32_t counts[] = {snapshot_.liveCount, snapshot_.rangeCount, snapshot_.divider,
                               snapshot_.periodCount};
    const uint32_t value = counts[reg / 2] >> (16 * (reg % 2));
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
        if (faultActive(FaultKind::OutOfStep, nowMicros)) {
            heldBack_ = std::move(answer);
            return;
        }
    }
    send(std::move(answer), nowMicros);
}

void CounterDevice::flood(uint64_t nowMicros) {
    for (const Fault& f : faults_) {
        if (f.kind != FaultKind::Flood) {
            continue;
        }
        const uint64_t from = std::max(f.fromMicros, floodedUntil_);
        const uint64_t to = std::min(f.untilMicros, nowMicros);
        if (to <= from) {
            continue;
        }
        const uint64_t room = linkBufferBytes - std::min(queuedBytes_, linkBufferBytes);
        const size_t count = static_cast<size_t>(std::min((to - from) / floodMicrosPerByte, room));
        std::string bytes(count, '\0');
        for (char& c : bytes) {
            c = endlessPattern[streamOffset_++ % endlessPatternLength];
        }
        if (count > 0) {
            queuedBytes_ += count;
            outgoing_.push_back({to, std::move(bytes)});
        }
    }
    floodedUntil_ = std::max(floodedUntil_, nowMicros);
}

void CounterDevice::send(std::string bytes, uint64_t nowMicros) {
    flood(nowMicros);
    std::string shown = bytes;
    if (!shown.empty() && shown.back() == '\r') {
        shown.pop_back();
    }
    log(nowMicros, '<', shown);
    if (queuedBytes_ + bytes.size() > linkBufferBytes) {
        return;
    }
    queuedBytes_ += bytes.size();
    const uint64_t ready = nowMicros + latencyMicros();
    if (!(scenario_.baud >= 1) || !std::isfinite(scenario_.baud)) {
        outgoing_.push_back({ready, std::move(bytes)});
        return;
    }
    // On a serial line the bytes follow one another, ten bit times each, behind whatever
    // is still on its way. Each byte's time is counted from the start of its burst, so
    // that no rounding accumulates.
    const uint64_t start = std::max(ready, lineFreeAt_);
    const double byteMicros = 1e7 / scenario_.baud;
    uint64_t leaves = start;
    for (size_t k = 0; k < bytes.size(); ++k) {
        leaves = start + static_cast<uint64_t>(std::ceil(static_cast<double>(k + 1) * byteMicros));
        outgoing_.push_back({leaves, std::string(1, bytes[k])});
    }
    lineFreeAt_ = leaves;
}

void CounterDevice::log(uint64_t nowMicros, char direction, const std::string& text) const {
    if (scenario_.deviceLog == nullptr) {
        return;
    }
    std::string line = formatMillis(nowMicros) + " " + direction + " " + printable(text) + "\n";
    std::fputs(line.c_str(), scenario_.deviceLog);
}

size_t CounterDevice::readableBytes(uint64_t nowMicros) {
    loseLinkIfUnpluggedSince(nowMicros);
    if (unplugged(nowMicros)) {
        return 0;
    }
    flood(nowMicros);
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
    flood(nowMicros);
    size_t got = 0;
    while (got < max && !outgoing_.empty() && outgoing_.front().readyAt <= nowMicros) {
        const std::string& bytes = outgoing_.front().bytes;
        const size_t take = std::min(max - got, bytes.size() - headOffset_);
        std::copy_n(bytes.data() + headOffset_, take, out + got);
        got += take;
        headOffset_ += take;
        queuedBytes_ -= take;
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
    if (faultActive(FaultKind::EndlessStream, nowMicros) ||
        faultActive(FaultKind::Flood, nowMicros)) {
        return nowMicros;
    }
    uint64_t next = std::numeric_limits<uint64_t>::max();
    for (const Chunk& chunk : outgoing_) {
        if (chunk.readyAt > nowMicros) {
            next = chunk.readyAt;
            break;
        }
    }
    for (const Fault& f : faults_) {
        if (f.kind == FaultKind::EndlessStream && f.fromMicros > nowMicros) {
            next = std::min(next, f.fromMicros);
        }
    }
    return next;
}

bool addPlugWindows(Scenario& scenario, bool startUnplugged, const double* unplugAt,
                    int unplugCount, const double* plugAt, int plugCount) {
    struct Change {
        double atSeconds;
        bool plugged;
    };
    std::vector<Change> changes;
    for (int i = 0; i < unplugCount; ++i) {
        changes.push_back({unplugAt[i], false});
    }
    for (int i = 0; i < plugCount; ++i) {
        changes.push_back({plugAt[i], true});
    }
    // At the same time, the pull comes first: the device is back at once.
    std::stable_sort(changes.begin(), changes.end(), [](const Change& a, const Change& b) {
        return a.atSeconds < b.atSeconds || (a.atSeconds == b.atSeconds && !a.plugged && b.plugged);
    });
    Scenario result = scenario;
    bool plugged = !startUnplugged;
    double offSince = 0.0;
    auto addWindow = [&](double until) {
        if (result.faultCount == maxFaults) {
            return false;
        }
        result.faults[result.faultCount++] = {FaultKind::Unplugged, offSince, until};
        return true;
    };
    for (const Change& change : changes) {
        if (!(change.atSeconds >= 0) || !std::isfinite(change.atSeconds)) {
            return false;
        }
        if (change.plugged == plugged) {
            continue;
        }
        plugged = change.plugged;
        if (!plugged) {
            offSince = change.atSeconds;
        } else if (change.atSeconds > offSince && !addWindow(change.atSeconds)) {
            return false;
        }
    }
    if (!plugged && !addWindow(-1.0)) {
        return false;
    }
    scenario = result;
    return true;
}

}  // namespace sim
