#include "WaitPolicy.h"

#include <algorithm>

namespace {

// A spin that grows from nothing reaches a few microseconds within a few
// short waits.
constexpr int64_t SPIN_GROWTH_NS = 1000;

}  // namespace

// ---------------------------------------------------------------- LoadGauge

void LoadGauge::Measure() {
    const int64_t now = Platform::NowNs();
    if (m_processorsReadNs < 0 || now - m_processorsReadNs >= PROCESSORS_READ_NS) ReadProcessors(now);
    const int64_t window = m_bMeasured ? WINDOW_NS : FIRST_WINDOW_NS;
    if (m_windowStartNs >= 0 && now - m_windowStartNs < window) return;
    const bool started = m_windowStartNs >= 0;
    const bool quiet = ReadQuiet(now);
    if (started) {
        Judge(quiet);
        m_bMeasured = true;
    }
    m_windowStartNs = now;
}

void LoadGauge::Judge(bool quiet) {
    const bool spare = m_bSpare;
    if (!quiet) {
        // Spare processors that the match's own help made busy: before the
        // next try, twice as long a quiet time as before.
        if (spare) m_iQuietNeeded = std::min(MAX_QUIET_WINDOWS, m_iQuietNeeded * 2);
        m_iQuietWindows = 0;
        m_iSpareWindows = 0;
        m_bSpare = false;
        return;
    }
    ++m_iQuietWindows;
    if (spare && ++m_iSpareWindows >= LASTING_SPARE_WINDOWS) m_iQuietNeeded = QUIET_WINDOWS;
    m_bSpare = m_iQuietWindows >= m_iQuietNeeded;
}

bool LoadGauge::ReadQuiet(int64_t now) {
    const int64_t length = now - m_windowStartNs;
    const int64_t delay = Platform::ThreadRunDelayNs();
    const int64_t lastDelay = m_windowStartDelayNs;
    m_windowStartDelayNs = delay;
    return (delay - lastDelay) * 100 <= BusyPercent() * length;
}

int64_t LoadGauge::BusyPercent() const {
    // The match's own threads share the processors with the game thread: a
    // worker or two, the image encoder and the players may all want one at
    // once, and so take a part of the game thread's time on a small machine
    // without any other work there.
    const int64_t processors = m_iProcessors.load(std::memory_order_relaxed);
    return std::max(BUSY_PERCENT, 100 * OWN_THREADS_BESIDE / (processors + OWN_THREADS_BESIDE));
}

void LoadGauge::ReadProcessors(int64_t now) {
    m_processorsReadNs = now;
    bool byQuota = false;
    m_iProcessors = Platform::ProcessorsAllowed(&byQuota);
    m_bQuota = byQuota;
}

void LoadGauge::NoteAnswerWait(int64_t waitedNs, bool paced) {
    m_meanAnswerWaitNs += (waitedNs - m_meanAnswerWaitNs) / ANSWER_WAIT_WEIGHT;
    m_bPlayersPace = paced || m_meanAnswerWaitNs > PLAYERS_PACE_NS;
}

LoadGauge& ProcessLoad() {
    static LoadGauge s_gauge;
    return s_gauge;
}

// ---------------------------------------------------------------- SpinPolicy

SpinPolicy::SpinPolicy(int64_t longestSpinUs, int processorsNeeded)
    : m_longestNs(longestSpinUs * 1000), m_allowedNs(m_longestNs), m_iProcessorsNeeded(processorsNeeded) {}

bool SpinPolicy::IsAllowed(int processorsNeeded) {
    const LoadGauge& load = ProcessLoad();
    return load.HasProcessorsToSpare() && !load.PlayersSetThePace() && load.ProcessorsAllowed() >= processorsNeeded &&
           !load.IsQuotaBound();
}

bool SpinPolicy::MaySpin() const { return m_allowedNs > 0 && IsAllowed(m_iProcessorsNeeded); }

void SpinPolicy::Learn() { Learn(Platform::NowNs()); }

void SpinPolicy::Learn(int64_t readyNs) {
    const int64_t waited = readyNs - m_waitStartNs;
    if (waited <= m_longestNs) {
        m_allowedNs = std::min(m_longestNs, m_allowedNs * 2 + SPIN_GROWTH_NS);
    } else {
        m_allowedNs /= 2;
    }
}

// ---------------------------------------------------------------- Doorbell

bool Doorbell::Ring(int count) {
    m_uRings.fetch_add(1);
    if (m_uSleepers.load() == 0) return false;
    Platform::Wake(m_uRings, count);
    return true;
}
