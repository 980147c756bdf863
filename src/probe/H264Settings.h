// The settings of an H.264 stream as a probe lists them, read from its PES
// packets as they come: the picture of its first sequence parameter set,
// and the frame rate of that set's timing information or, for a stream
// whose set has none, of the stamps of its first pictures.
#pragma once

#include "mpeg/video/H264.h"
#include "mpeg/video/H264Units.h"
#include "probe/MPEGInfo.h"

#include <cstdint>
#include <optional>
#include <span>

namespace vantrel {

class TH264SettingsReader
{
public:
    // The payload of the stream's next PES packet and its PTS. True once
    // the settings are read: at the first sequence parameter set with
    // timing information, else once StampedPictures pictures are in.
    bool Add(std::span<const std::uint8_t> Payload, std::optional<std::int64_t> PTS);
    // The stream has ended, or no more of it is read: true when the
    // settings are read from what came (a rate from two stamped pictures
    // at least).
    bool Finish();
    // The payload bytes given so far.
    std::int64_t Bytes() const { return m_Pictures.Bytes(); }
    // Once read: the size after cropping, fields or not (Progressive), the
    // frame rate; MPEGVersion 4 names the coding (ISO/IEC 14496-10 is
    // MPEG-4 part 10), ProfileAndLevel holds the level_idc, H264Profile and
    // H264Constraints the profile.
    const TStreamInfo& Format() const { return m_Format; }

    static constexpr std::size_t StampedPictures = 24;

private:
    bool Conclude(bool Ended);

    TH264UnitSplitter m_Pictures;
    std::vector<std::uint8_t> m_Head; // the payload until a sequence parameter set parses
    std::optional<TSequenceParameterSet> m_Sps;
    TStreamInfo m_Format;
};

// A picture as its stamp shows it: its PTS on the 90 kHz clock and how
// many fields it shows for (1 for a field picture, 2 for a frame, 3 where
// a field repeats).
struct TStampedPicture
{
    std::int64_t PTS = 0;
    int Fields = 2;
};

// Frames per second from the smallest steady step between the pictures'
// stamps in display order, each step counted in the fields of the picture
// before it; the usual rates (23.976 to 60) are given exactly, as
// UsualFrameRate says. Pictures: in decode order, stamps on the wrapping
// 33-bit clock, pictures without a stamp left out (a gap they leave is a
// step of several pictures, which the smallest steady step passes over).
// 0 when fewer than two pictures have different stamps.
double FrameRateFromStamps(std::span<const TStampedPicture> Pictures);

// Rate snapped to the usual rate nearest to it (24000/1001, 24, 25,
// 30000/1001, 30, 50, 60000/1001 or 60) when it is within 0.2 % of one,
// as stamps rounded to the clock's ticks leave it; else Rate itself.
double UsualFrameRate(double Rate);

} // namespace vantrel
