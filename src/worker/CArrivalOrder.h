#pragma once
#include "unzip/CArrivingBytes.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <set>
#include <vector>

// The order in which the entries of an archive still arriving are unpacked:
// each as soon as all its bytes are there, in whatever order the download's
// connections bring them; when none is whole, the one being received of
// which most is there, to be followed as its bytes come. Entries are found
// through the ranges that arrived, never by asking every entry, so an
// archive of many entries costs no scan per write.
class CArrivalOrder {
public:
    // `spans[i]`: where entry i's bytes lie in the archive of `size` bytes.
    CArrivalOrder(const std::vector<CArrivingBytes::Range>& spans, std::uint64_t size);

    // The next entry to unpack, each once; waits while none has a byte
    // there. Nothing when every entry was given, or the wait ended (the
    // download failed or the run is stopping).
    std::optional<std::size_t> Next(CArrivingBytes& bytes);

private:
    // Moves the entries whole within the readable ranges to m_ready; the
    // entry being received of which most is there, if any.
    std::optional<std::size_t> Look(const std::vector<CArrivingBytes::Range>& ready);

    std::vector<CArrivingBytes::Range> m_spans;   // by entry
    std::vector<std::size_t> m_byPlace;           // entries by where they begin
    std::set<std::size_t> m_waiting;              // places in m_byPlace not given yet
    std::deque<std::size_t> m_ready;              // entries whole, not given yet
};
