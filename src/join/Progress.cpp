#include "join/Progress.h"

#include <chrono>
#include <cmath>

namespace vantrel {

std::int64_t SteadyClockMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

std::string RemainingTimeText(std::int64_t Seconds)
{
    const auto Count = [](std::int64_t N, const char* Unit) {
        return std::to_string(N) + " " + Unit + (N == 1 ? "" : "s") + " remaining";
    };
    if (Seconds < 60)
        return Count(Seconds, "second");
    if (Seconds < 3 * 3600)
        return Count(Seconds / 60, "minute");
    return Count(Seconds / 3600, "hour");
}

std::optional<std::string> TTimeEstimate::Update(std::int32_t Position)
{
    const std::int64_t Now = m_Clock();
    std::optional<std::string> Text;
    if (m_LastSample) {
        const double Elapsed = static_cast<double>(Now - *m_LastSample) / 1000.0;
        if (Elapsed > 1) {
            // Round half to even, the default floating-point rounding mode.
            const double Seconds = std::nearbyint((100 - Position) * Elapsed);
            Text = RemainingTimeText(static_cast<std::int64_t>(Seconds));
        }
    }
    m_LastSample = Now;
    return Text;
}

} // namespace vantrel
