// What a file holds: its kind by its first four bytes, its video format and
// its first audio stream's format, and whether two files can be joined.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vantrel {

enum TMediaFileKind : std::uint8_t
{
    mfkUnknown = 0,
    mfkSystemStream = 1,
    mfkVideoStream = 2
};

// Classifies by the first four bytes: 00 00 01 BA (pack start) is a system
// stream, 00 00 01 B3 (sequence header) a video elementary stream. Raises
// "Cannot open file %s" when the file cannot be opened.
TMediaFileKind GetMediaFileKind(const std::string& FileName);

struct TMediaInfo
{
    bool IsSystemStream = false;
    std::uint16_t FrameRateCode = 0;
    double FrameRate = 0;
    std::uint16_t Width = 0;
    std::uint16_t Height = 0;
    bool HasAudio = false;       // stream 0xC0 delivered payload
    std::uint8_t AudioLayer = 0; // of its first valid frame header; 0 when none
    std::uint8_t ChannelMode = 0;
    std::int32_t SampleRate = 0;
};

enum TFormatMatch : std::uint8_t
{
    fmSame = 0,
    fmVideoDiffers = 1,
    fmAudioDiffers = 2
};

// Fills Info for the named file or raises an Exception saying why it cannot
// be used.
void ProbeMediaFile(const std::string& FileName, TMediaInfo& Info);
void ProbeSystemStream(const std::string& FileName, TMediaInfo& Info);
void ProbeVideoStream(const std::string& FileName, TMediaInfo& Info);

// A is the reference (the first file of a join). Video is compared by size and
// frame-rate code; audio by presence, layer, sampling rate and channel mode.
TFormatMatch CompareMediaInfo(const TMediaInfo& A, const TMediaInfo& B);

// The outcome of comparing every file of a join with the first one.
struct TJoinCompatibility
{
    TFormatMatch Worst = fmSame; // a video difference anywhere beats audio ones
    bool HasVideoStream = false; // some file is a video elementary stream
};
// Infos holds at least one record; the first is the reference.
TJoinCompatibility CheckJoinCompatibility(const std::vector<const TMediaInfo*>& Infos);

inline constexpr const char* VideoDiffersMessage =
    "The selected files have the different format of video and cannot be joined.";
inline constexpr const char* AudioDiffersMessage =
    "The selected files have the different format of audio and can be joined only without audio.";

// The status a file shows against the first file: "OK", "Video Differ" or
// "Audio Differ".
const char* FormatMatchText(TFormatMatch Match);

// Text of the channel mode for people: "stereo", "joint stereo", ...
const char* ChannelModeName(std::uint8_t ChannelMode);

} // namespace vantrel
