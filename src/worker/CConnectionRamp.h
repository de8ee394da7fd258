#pragma once
#include <chrono>
#include <cstdint>

// When one more connection pays for its login on this path. A download starts
// with one connection; once its rate is known, one more is asked for, and the
// next only when the last one raised the total rate by a clear share. A path
// that one connection fills thus gets one trial, which is ended once judged. While the count
// holds, a rate that drops clearly at the same count (the path changed) opens
// the trial again. Lengths are in units of the path's own time, the delay to
// the first byte, so a fast path is judged in a fraction of a second and a
// long one over seconds. No I/O: the caller feeds samples.
class CConnectionRamp {
public:
    enum class Step {
        Hold,
        Add,    // start one more (it counts as asked for from here)
        Drop,   // the one asked for last did not pay: end it, its range going to the one below it
    };

    // `most`: connections at most; `bytesLeft`: what the download fetches.
    CConnectionRamp(int most, std::uint64_t bytesLeft);

    // `at`: time since the download began; `bytes`: fetched since then;
    // `fetching`: connections holding a range now.
    Step Sample(std::chrono::milliseconds at, std::uint64_t bytes, int fetching);
    // The connection asked for last will not come (refused, broken before
    // its first range): the server allows no more; none is asked for again.
    void Lost();

    // Connections asked for and not dropped.
    int Asked() const { return m_asked; }
    // Connections that raised the rate clearly, the first included: a
    // connection whose range is done takes half of another's only while
    // fewer than this fetch.
    int Worth() const;
    // Connections judged to have raised the rate, the first included.
    int Paid() const { return m_paid; }
    // What the one asked for last should fetch first on a path that one
    // connection may fill: about what it gets there until it is judged, so
    // that when it does not pay it ends without anything fetched twice. 0
    // once more than one paid: it then takes half of a range.
    std::uint64_t TrialBytes() const;

private:
    enum class Phase { FirstByte, Joining, Measuring, Holding, Done };
    struct Point {
        std::chrono::milliseconds at{0};
        std::uint64_t bytes = 0;
    };

    std::chrono::milliseconds Unit() const { return m_unit; }
    double RateSince(const Point& from, const Point& now) const;
    bool LongEnough(const Point& from, const Point& now, int units, std::uint64_t bytes) const;
    // Whether the rest of the file takes long enough for one more login to pay.
    bool WorthAsking(const Point& now, double rate) const;
    Step Judge(const Point& now, int fetching);
    Step AskOneMore(const Point& now, double rate, int fetching);
    void HoldAt(const Point& now, double rate, int fetching);
    Step WatchHold(const Point& now, int fetching);

    int m_most;
    std::uint64_t m_bytesLeft;
    Phase m_phase = Phase::FirstByte;
    std::chrono::milliseconds m_unit{0};
    int m_asked = 1;
    int m_paid = 1;
    bool m_learning = true;   // the rate at the present count is the baseline to learn
    int m_target = 1;         // connections fetching once the last one asked for has come
    Point m_stageStart;       // when they all began fetching
    Point m_windowStart;      // where the rate of the present count is measured from
    double m_baseline = 0;    // the rate before the last connection was asked for
    double m_held = 0;        // the rate the count holds at
    int m_heldFetching = 0;
};
