// How the referee's threads wait for one another: spin a little or block
// at once, from the processors the process may use and how busy they are.
//
// Blocking is dear: a wake-up costs the waker a system call and the woken
// thread some microseconds, more on some machines.  Spinning is dear too: a
// spinning thread keeps a processor from the players, from the other
// threads of the match and from other matches.  So a spin needs processors
// to spare (LoadGauge) and enough of them for the spinner besides the
// threads it waits for, and it follows the place's recent waits
// (SpinPolicy).  Where threads wait and wake, a Doorbell makes a ring cost a
// system call only while a waiter is blocked.
#pragma once

#include <atomic>
#include <climits>
#include <cstdint>

#include "Platform.h"

// Whether the machine has processors to spare for this process, and how
// many it may use.  One thread measures (the game thread); any thread may
// ask.  The signal is the part of each stretch of time in which the
// measuring thread was ready to run but waited for a processor
// (Platform::ThreadRunDelayNs).
class LoadGauge {
public:
    // Called often by the measuring thread: takes a reading when a stretch
    // is over.  The first stretch is short, so that a match soon knows.
    void Measure();
    // False while the signal showed a busy machine in one of the last
    // stretches, and until a first stretch has been measured.
    bool HasProcessorsToSpare() const { return m_bSpare.load(std::memory_order_relaxed); }
    // Platform::ProcessorsAllowed as last read (at the first Measure, then
    // about once a second); 1 before.
    int ProcessorsAllowed() const { return m_iProcessors.load(std::memory_order_relaxed); }
    // Whether a processor quota allows fewer processors than the affinity
    // mask: every spin then spends what the work itself could have used.
    bool IsQuotaBound() const { return m_bQuota.load(std::memory_order_relaxed); }

    // The measuring thread tells, after each frame's wait for the players'
    // answers, how long it waited, and whether the frame was paced.
    void NoteAnswerWait(int64_t waitedNs, bool paced);
    // True while the players set the pace of the frames: paced frames, or
    // answers that come much later than the referee's own work of a frame.
    // More threads cannot make such frames much shorter, and their wake-ups
    // and cold caches cost processor time that the players may want.
    bool PlayersSetThePace() const { return m_bPlayersPace.load(std::memory_order_relaxed); }

private:
    static constexpr int64_t FIRST_WINDOW_NS = 5000000;
    static constexpr int64_t WINDOW_NS = 50000000;
    static constexpr int64_t PROCESSORS_READ_NS = 1000000000;
    static constexpr int64_t BUSY_PERCENT = 10;
    // The threads of the match beside the game thread and its helpers that
    // may want a processor at the same time: the players and the encoder.
    static constexpr int64_t OWN_THREADS_BESIDE = 3;
    // Quiet stretches in a row before there are processors to spare: the
    // spins and wake-ups that follow a quiet stretch make the next one busy
    // on a machine that is not quiet.  Each time they do, twice as many are
    // needed the next time, up to a limit; spare processors that last a
    // while make it the first number again.
    static constexpr int QUIET_WINDOWS = 2;
    static constexpr int MAX_QUIET_WINDOWS = 64;
    static constexpr int LASTING_SPARE_WINDOWS = 20;
    // Answers this late on average leave the frame to the players; the
    // average follows the last frames (a sixteenth each).
    static constexpr int64_t PLAYERS_PACE_NS = 1000000;
    static constexpr int ANSWER_WAIT_WEIGHT = 16;

    // Whether the stretch that ends now was quiet.
    bool ReadQuiet(int64_t now);
    // Takes in the stretch that ended.
    void Judge(bool quiet);
    // The part of a stretch, in percent, above which waiting for a processor
    // means other work on the machine.
    int64_t BusyPercent() const;
    void ReadProcessors(int64_t now);

    int64_t m_windowStartNs = -1;
    int64_t m_windowStartDelayNs = 0;
    int64_t m_processorsReadNs = -1;
    int m_iQuietWindows = 0;
    int m_iQuietNeeded = QUIET_WINDOWS;
    int m_iSpareWindows = 0;
    bool m_bMeasured = false;
    std::atomic<bool> m_bSpare{false};
    std::atomic<int> m_iProcessors{1};
    std::atomic<bool> m_bQuota{false};
    int64_t m_meanAnswerWaitNs = 0;
    std::atomic<bool> m_bPlayersPace{false};
};

// The gauge of the whole process, which the spins and the lidar workers
// consult; the game thread measures.
LoadGauge& ProcessLoad();

// Looks at ready() until it holds or the clock (Platform::NowNs) reaches
// untilNs, giving the processor to any thread that wants it between looks;
// ready()'s last result.
template <class Ready>
bool PollUntil(int64_t untilNs, Ready ready);

// How long one place that waits for other threads spins before it blocks.
// No spin at all while the process's gauge finds no processor to spare or
// tells that the players set the pace, while the process may use fewer
// processors than the place needs to spin (the spinner's and those of the
// threads it waits for), or while a quota bounds its processor time.
// Otherwise the spin follows the place's recent waits (where its owner
// calls Learn): after a wait that the longest spin would have covered, the
// next spin may be twice as long (up to the longest); after a longer one it
// is halved.  Between two looks the spinner gives its processor to any
// other thread that wants it, so that a spin only takes a processor that
// would be idle.  Belongs to the one thread that waits there.
class SpinPolicy {
public:
    SpinPolicy(int64_t longestSpinUs, int processorsNeeded);
    // Spins until ready() or the spin allowed now is over; ready()'s result.
    template <class Ready>
    bool Spin(Ready ready);
    // Ends the wait that the last Spin began (whether it blocked or not);
    // with the time (Platform::NowNs) at which the wait could have ended,
    // when that was before the waiter saw it.
    void Learn();
    void Learn(int64_t readyNs);
    // Whether the machine lets a place that needs the processors given spin
    // at all now (its recent waits aside).
    static bool IsAllowed(int processorsNeeded);

private:
    bool MaySpin() const;

    int64_t m_longestNs;
    int64_t m_allowedNs;
    int m_iProcessorsNeeded;
    int64_t m_waitStartNs = 0;
};

// Where threads wait for a condition that other threads make true.  A
// waiter spins as its SpinPolicy allows, then blocks until the condition
// holds; whoever may have made it true rings.  A ring costs a system call
// only while a waiter is blocked.  The condition's data must be atomics with
// sequentially consistent stores and loads (the default).  Any thread may
// wait or ring.
class Doorbell {
public:
    // Spins as the policy allows, then blocks, until ready().
    template <class Ready>
    void Wait(SpinPolicy& spin, Ready ready);
    // Blocks at once until ready().
    template <class Ready>
    void Block(Ready ready);
    // Wakes at most count blocked waiters; true when one was blocked.
    bool Ring(int count = INT_MAX);
    // The waiters blocked now (or about to block, or just woken).
    int Sleepers() const { return static_cast<int>(m_uSleepers.load()); }

private:
    std::atomic<uint32_t> m_uRings{0};
    std::atomic<uint32_t> m_uSleepers{0};
};

template <class Ready>
bool PollUntil(int64_t untilNs, Ready ready) {
    for (;;) {
        if (ready()) return true;
        if (Platform::NowNs() >= untilNs) return false;
        Platform::GiveWay();
    }
}

template <class Ready>
bool SpinPolicy::Spin(Ready ready) {
    m_waitStartNs = Platform::NowNs();
    if (!MaySpin()) return ready();
    return PollUntil(m_waitStartNs + m_allowedNs, ready);
}

template <class Ready>
void Doorbell::Wait(SpinPolicy& spin, Ready ready) {
    if (!spin.Spin(ready)) Block(ready);
    spin.Learn();
}

template <class Ready>
void Doorbell::Block(Ready ready) {
    for (;;) {
        const uint32_t rings = m_uRings.load();
        // Counted before the condition is tested again, so that a ring after
        // the test sees the sleeper, and one before it changed what the test
        // reads.
        m_uSleepers.fetch_add(1);
        const bool done = ready();
        if (!done) Platform::WaitWhileEqual(m_uRings, rings);
        m_uSleepers.fetch_sub(1);
        if (done) return;
    }
}
