#include "join/Progress.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>

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

TTerminalProgress::~TTerminalProgress()
{
    if (m_Shown)
        std::fputc('\n', stderr);
}

void TTerminalProgress::Show()
{
    m_Shown = m_Visible;
    Draw();
}

void TTerminalProgress::SetPosition(std::int32_t Percent)
{
    if (Percent == m_Percent)
        return;
    m_Percent = Percent;
    if (auto Text = m_Estimate.Update(Percent))
        m_Remaining = *Text;
    Draw();
}

void TTerminalProgress::Draw()
{
    if (!m_Shown)
        return;
    constexpr int Width = 30;
    const int Filled = std::clamp(m_Percent, 0, 100) * Width / 100;
    std::fprintf(stderr, "\r%s [%s%s] %3d%%  %-28s", m_Caption.c_str(), std::string(Filled, '#').c_str(),
                 std::string(Width - Filled, '-').c_str(), m_Percent, m_Remaining.c_str());
    std::fflush(stderr);
}

} // namespace vantrel
