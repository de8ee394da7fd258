#pragma once
#include "support/TestSupport.h"
#include "worker/Messages.h"

#include <string>
#include <vector>

// Expected notices, written the way the tests read best.
inline Notice P(std::uint64_t pos, std::int64_t range)
{
    return {UM_PROGRESS_BAR, pos, range, {}};
}
inline Notice K(unsigned kind, const std::string& status = {})
{
    return {UM_FILENAME_UPDATE, kind, 0, status};
}
// The end of a run: its result and the text that goes with it.
inline Notice End(RunResult r)
{
    return {UM_FILENAME_UPDATE, kJobOver, static_cast<std::int64_t>(r), RunResultText(r)};
}
inline Notice S(const std::string& status)
{
    return K(kStatusChanged, status);
}

// Only kind 0 and kind 3 notices carry a status worth comparing; the others
// get it blanked so whole sequences compare exactly.
inline std::vector<Notice> WithStatusWhereItMatters(std::vector<Notice> v)
{
    for (auto& n : v)
        if (!(n.message == UM_FILENAME_UPDATE && (n.wParam == kStatusChanged || n.wParam == kJobOver)))
            n.status.clear();
    return v;
}
