#include "window/AccessibleControls.h"

#include "window/resource.h"

#include <algorithm>
#include <array>

namespace {

constexpr std::array<AccessibleControl, 6> kControls{{
    {IDC_APP_NAME, "Application file", "Name of the application archive being fetched"},
    {IDC_APP_PROGRESS, "Application progress", "Download, then unpacking, of the application archive"},
    {IDC_UPDATE_NAME, "Update file", "Name of the update archive being fetched"},
    {IDC_UPDATE_PROGRESS, "Update progress", "Download, then unpacking, of the update archive"},
    {IDC_MESSAGE, "Status", "What the download is doing now"},
    {IDC_FOLDER, "Download folder", "Folder that receives all files"},
}};

}   // namespace

std::span<const AccessibleControl> MainDialogAccessibleControls()
{
    return kControls;
}

const AccessibleControl* MainDialogAccessible(int controlId)
{
    const auto* found =
        std::find_if(kControls.begin(), kControls.end(), [&](const AccessibleControl& c) { return c.id == controlId; });
    return found == kControls.end() ? nullptr : found;
}

std::string StatusDescription(const std::string& reason)
{
    return reason.empty() ? MainDialogAccessible(IDC_MESSAGE)->description : reason;
}

int BarPercent(long long value, long long minimum, long long maximum)
{
    // 64-bit: a 32-bit bar's span and value times 100 both fit.
    const long long span = maximum - minimum;
    if (span <= 0 || value < minimum)
        return 0;   // an empty range, or a bar that was reset
    return static_cast<int>(std::min<long long>((value - minimum) * 100 / span, 100));
}

std::string PercentText(int percent)
{
    return std::to_string(percent) + " %";
}
