#include "probe/H264Settings.h"

#include "mpeg/TimeStamps.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace vantrel {

bool TH264SettingsReader::Add(std::span<const std::uint8_t> Payload, std::optional<std::int64_t> PTS)
{
    m_Pictures.Add(Payload.data(), Payload.size(), PTS);
    if (!m_Sps) {
        m_Head.insert(m_Head.end(), Payload.begin(), Payload.end());
        if ((m_Sps = FindSequenceParameterSet(m_Head)))
            m_Head = {};
    }
    return Conclude(false);
}

bool TH264SettingsReader::Finish()
{
    m_Pictures.Finish();
    if (!m_Sps)
        m_Sps = FindSequenceParameterSet(m_Head);
    return Conclude(true);
}

bool TH264SettingsReader::Conclude(bool Ended)
{
    if (!m_Sps)
        return false;
    double Rate = m_Sps->FrameRate();
    if (Rate <= 0) {
        std::vector<TStampedPicture> Stamped;
        for (const TH264Unit& Unit : m_Pictures.Units())
            if (Unit.Stamp)
                Stamped.push_back({*Unit.Stamp, Unit.Fields});
        if (Ended || Stamped.size() >= StampedPictures)
            Rate = FrameRateFromStamps(Stamped);
    }
    if (Rate <= 0)
        return false;
    m_Format.Width = static_cast<std::uint16_t>(m_Sps->Width);
    m_Format.Height = static_cast<std::uint16_t>(m_Sps->Height);
    m_Format.FrameRate = Rate;
    m_Format.FrameRateCode = 0;
    m_Format.AspectRatioCode = 0;
    m_Format.MPEGVersion = 4;
    m_Format.ChromaFormat = m_Sps->ChromaFormat;
    m_Format.ProfileAndLevel = m_Sps->LevelIdc;
    m_Format.H264Profile = m_Sps->ProfileIdc;
    m_Format.H264Constraints = m_Sps->Constraints;
    m_Format.Progressive = !m_Sps->Interlaced();
    return true;
}

namespace {

// Steps of one picture's field apart by less than this are the same step:
// stamps of 59.94 fields a second stand 1501 and 1502 ticks apart in turn.
constexpr double StepTolerance = 1.5;

} // namespace

double FrameRateFromStamps(std::span<const TStampedPicture> Pictures)
{
    if (Pictures.empty())
        return 0;
    // In display order on a clock that no longer wraps.
    std::vector<TStampedPicture> Shown(Pictures.begin(), Pictures.end());
    const std::int64_t Origin = Shown.front().PTS;
    for (TStampedPicture& Picture : Shown)
        Picture.PTS = Origin + ClockDistance(Origin, Picture.PTS);
    std::ranges::sort(Shown, {}, &TStampedPicture::PTS);
    std::vector<double> Steps; // ticks per field
    for (std::size_t I = 1; I < Shown.size(); ++I)
        if (Shown[I].PTS > Shown[I - 1].PTS && Shown[I - 1].Fields > 0)
            Steps.push_back(static_cast<double>(Shown[I].PTS - Shown[I - 1].PTS) / Shown[I - 1].Fields);
    if (Steps.empty())
        return 0;
    std::ranges::sort(Steps);
    // The smallest step that comes again; a lone smaller one is a stamp out
    // of line. With only one of each, the smallest.
    const auto Near = [&](std::size_t I) {
        return static_cast<std::size_t>(
            std::upper_bound(Steps.begin() + I, Steps.end(), Steps[I] + StepTolerance) - Steps.begin());
    };
    std::size_t From = 0;
    while (From < Steps.size() && Near(From) - From < 2)
        ++From;
    if (From == Steps.size())
        From = 0;
    const std::size_t To = Near(From);
    double Sum = 0;
    for (std::size_t I = From; I < To; ++I)
        Sum += Steps[I];
    const double FieldTicks = Sum / static_cast<double>(To - From);
    return UsualFrameRate(ClockRate / (2 * FieldTicks));
}

double UsualFrameRate(double Rate)
{
    constexpr double Usual[] = {24000.0 / 1001, 24, 25, 30000.0 / 1001, 30, 50, 60000.0 / 1001, 60};
    const double* Nearest =
        std::ranges::min_element(Usual, {}, [&](double U) { return std::abs(Rate / U - 1); });
    return std::abs(Rate / *Nearest - 1) < 0.002 ? *Nearest : Rate;
}

} // namespace vantrel
