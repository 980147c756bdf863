// What a file holds: its kind by its first bytes, its video format and its
// first sound stream's format, and its duration; for a transport stream
// also its programs and every stream of them.
#pragma once

#include "io/ByteSource.h"
#include "io/FileBufs.h"
#include "io/InputFile.h"
#include "mpeg/StartCodes.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace vantrel {

enum TMediaFileKind : std::uint8_t
{
    mfkUnknown = 0,
    mfkSystemStream = 1,
    mfkVideoStream = 2,
    mfkTransportStream = 3
};

// Classifies by the first start code: 00 00 01 BA (pack start) is a system
// stream, 00 00 01 B3 (sequence header) a video elementary stream. Up to
// LeadingZeroLimit zero bytes may stand before it (the empty sectors a VCD
// track copied off a disc starts with: 150 or more). A file that starts with
// anything else is a transport stream when the sync bytes of packets of 188,
// 192 or 204 bytes stand in a row within ResyncLimit bytes (a recording cut
// anywhere), and a system stream when a whole pack header stands within
// them: the second half of a recording split in a pack. The
// name form raises the input file's errors ("Cannot open file %s" with the
// reason, "%s is not a regular file.").
TMediaFileKind GetMediaFileKind(const std::string& FileName);
TMediaFileKind GetMediaFileKind(TByteSource& Source);
constexpr std::int64_t LeadingZeroLimit = 1 << 20;
constexpr std::int64_t ResyncLimit = 64 * 1024;

enum TAudioCodec : std::uint8_t
{
    acMPEG = 0, // layers I to III, in streams 0xC0-0xDF
    acAC3 = 1,  // the rest in private stream 1
    acDTS = 2,
    acLPCM = 3,
    // and what transport streams carry besides MPEG audio and AC-3
    acEAC3 = 4,
    acAAC = 5,  // in ADTS frames
    acLATM = 6, // AAC in LATM/LOAS
    acUnknown = 7
};

// What an elementary stream of a transport stream's program is for.
enum TStreamKind : std::uint8_t
{
    skOther = 0,
    skVideo = 1,
    skSound = 2,
    skSubtitles = 3, // DVB subtitling
    skTeletext = 4
};

// One elementary stream of a program, as its PMT and its first packets
// tell it. The video and sound fields are those of TMediaInfo, by the same
// names, for the kind the stream is of.
struct TStreamInfo
{
    std::uint16_t PID = 0;
    std::uint8_t StreamType = 0;
    TStreamKind Kind = skOther;
    std::uint8_t Coding = 0; // TStreamCoding
    // ISO 639-2 codes: a sound stream's language, the languages of a
    // subtitling or teletext stream's pages.
    std::vector<std::string> Languages;
    std::uint16_t FrameRateCode = 0;
    double FrameRate = 0;
    std::uint16_t Width = 0;
    std::uint16_t Height = 0;
    std::uint8_t AspectRatioCode = 0;
    std::uint8_t MPEGVersion = 0;
    std::uint8_t ChromaFormat = 0;
    std::uint8_t ProfileAndLevel = 0;
    std::uint8_t H264Profile = 0, H264Constraints = 0;
    bool Progressive = true;
    TAudioCodec AudioCodec = acUnknown;
    std::uint8_t AudioLayer = 0;
    std::uint8_t ChannelMode = 0;
    std::uint8_t AudioChannels = 0;
    bool LowFrequency = false;
    std::uint8_t AudioBits = 0;
    std::int32_t SampleRate = 0;
    std::int32_t AudioBitRate = 0;
    bool operator==(const TStreamInfo&) const = default;
};

struct TProgramInfo
{
    std::uint16_t Number = 0; // program_number, DVB's service id
    std::uint16_t PMTPID = 0;
    std::uint16_t PCRPID = 0;
    std::string Name, Provider; // the SDT's: the channel a person knows
    std::vector<TStreamInfo> Streams;
    bool operator==(const TProgramInfo&) const = default;
};

struct TMediaInfo
{
    bool IsSystemStream = false;
    // MPEG-2 packs and PES headers (ISO/IEC 13818-1): DVD, SVCD, recorders.
    bool ProgramStream = false;
    std::uint16_t FrameRateCode = 0;
    double FrameRate = 0; // with an MPEG-2 sequence's rate extension
    std::uint16_t Width = 0;
    std::uint16_t Height = 0;
    // The sequence header's code: MPEG-1's pixel aspect ratio, MPEG-2's
    // picture shape (2 4:3, 3 16:9, 4 2.21:1).
    std::uint8_t AspectRatioCode = 0;
    // Of the video: 2 when its sequence header has an extension; 4 for
    // H.264 (MPEG-4 part 10), whose ProfileAndLevel is its level_idc.
    std::uint8_t MPEGVersion = 1;
    std::uint8_t ChromaFormat = 1;    // 1 4:2:0, 2 4:2:2, 3 4:4:4
    std::uint8_t ProfileAndLevel = 0; // MPEG-2's escape bit, profile and level
    // H.264's profile_idc and its constraint flags (set0 in bit 7).
    std::uint8_t H264Profile = 0, H264Constraints = 0;
    bool Progressive = true; // MPEG-2's progressive_sequence
    // The first sound stream: 0xC0 in MPEG-1; in a program stream the first
    // of 0xC0-0xDF and the sound sub-streams of private stream 1 (0xBD,
    // AudioSubStream) that the file holds.
    bool HasAudio = false;
    std::uint8_t AudioStreamId = FirstAudioStream;
    std::uint8_t AudioSubStream = 0;
    TAudioCodec AudioCodec = acMPEG;
    std::uint8_t AudioLayer = 0; // MPEG audio, of its first confirmed frame header; 0 when none
    // MPEG audio's mode (stereo, joint, dual, mono); AC-3's coding mode.
    std::uint8_t ChannelMode = 0;
    std::uint8_t AudioChannels = 0; // full channels of AC-3, DTS and LPCM
    bool LowFrequency = false;      // the .1 channel
    std::uint8_t AudioBits = 0;     // LPCM's bits per sample
    std::int32_t SampleRate = 0;    // 0: the format is unknown
    std::int32_t AudioBitRate = 0;  // bit/s of that header
    std::uint8_t Subpictures = 0;   // subpicture sub-streams seen near the start
    double Duration = 0;            // seconds; 0 when the probe could not tell
    // An MPEG-2 transport stream (ISO/IEC 13818-1, 2.4): DVB and set-top
    // box recordings, M2TS. IsSystemStream holds too; the video and sound
    // fields above describe Programs[Program], the first program whose
    // video could be read, and its first sound stream.
    bool TransportStream = false;
    std::uint16_t PacketSize = 0;       // 188, 192 (arrival stamp first) or 204 (parity after)
    std::vector<TProgramInfo> Programs; // in the order of the PAT
    std::uint8_t Program = 0;
};

// Sets Info's video and sound fields from Programs[Index] of a transport
// stream: its first video stream and its first sound stream.
void DescribeProgram(TMediaInfo& Info, std::size_t Index);
// The video fields and the sound fields, between a TMediaInfo and a
// TStreamInfo.
template <typename TFrom, typename TTo> void CopyVideoFields(const TFrom& From, TTo& To)
{
    To.FrameRateCode = From.FrameRateCode;
    To.FrameRate = From.FrameRate;
    To.Width = From.Width;
    To.Height = From.Height;
    To.AspectRatioCode = From.AspectRatioCode;
    To.MPEGVersion = From.MPEGVersion;
    To.ChromaFormat = From.ChromaFormat;
    To.ProfileAndLevel = From.ProfileAndLevel;
    To.H264Profile = From.H264Profile;
    To.H264Constraints = From.H264Constraints;
    To.Progressive = From.Progressive;
}
template <typename TFrom, typename TTo> void CopySoundFields(const TFrom& From, TTo& To)
{
    To.AudioCodec = From.AudioCodec;
    To.AudioLayer = From.AudioLayer;
    To.ChannelMode = From.ChannelMode;
    To.AudioChannels = From.AudioChannels;
    To.LowFrequency = From.LowFrequency;
    To.AudioBits = From.AudioBits;
    To.SampleRate = From.SampleRate;
    To.AudioBitRate = From.AudioBitRate;
}

// True when Data holds a sequence header at or after From, whose fields
// then fill Info's video fields; raises "Unable to read video settings" when
// they cannot be joined. Data not Complete: a header too close to its end is
// not read yet.
bool ReadVideoSettings(std::span<const std::uint8_t> Data, TMediaInfo& Info, std::size_t From = 0,
                       bool Complete = true);

// One input as one probe found it: what the list shows, the join decision
// weighs and the joiner joins, without opening the file again to ask.
struct TInputRecord
{
    std::string FileName;
    TFileIdentity Identity;      // of the file when it was probed
    std::int64_t StreamSize = 0; // of the stream it holds (inside its sectors, for a disc track)
    TMediaFileKind Kind = mfkUnknown;
    TMediaInfo Info;
};

// Opens the file once and probes it; raises what ProbeMediaFile raises.
TInputRecord ProbeInput(const std::string& FileName, bool WithDuration = true);
TInputRecord ProbeInput(TInputFile& File, bool WithDuration = true);

// Fills Info for the named file or raises an Exception saying why it cannot
// be used. A VCD track in RIFF/CDXA sectors is read as the stream it holds.
// Without duration, only the start of the file is read (a few KB).
void ProbeMediaFile(const std::string& FileName, TMediaInfo& Info, bool WithDuration = true);
void ProbeMediaFile(TByteSource& Source, TMediaInfo& Info, bool WithDuration = true);
void ProbeSystemStream(TByteSource& Source, TMediaInfo& Info, bool WithDuration = true);
void ProbeVideoStream(TByteSource& Source, TMediaInfo& Info, bool WithDuration = true);

} // namespace vantrel
