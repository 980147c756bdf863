// The video sequence header reader, the audio frame header searches, the
// stream end trackers, the H.264 access-unit splitter and the headers of
// transport streams' sound and PES packets over arbitrary bytes in memory.
#include "mpeg/PESHeader.h"
#include "mpeg/StreamEnd.h"
#include "mpeg/audio/AAC.h"
#include "mpeg/audio/AC3.h"
#include "mpeg/audio/HdmvLPCM.h"
#include "mpeg/audio/MPEGAudio.h"
#include "mpeg/ts/ServiceTable.h"
#include "mpeg/video/H264Levels.h"
#include "mpeg/video/H264Units.h"
#include "mpeg/video/SequenceHeader.h"
#include "probe/SoundFrames.h"

using namespace vantrel;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size)
{
    const std::span<const std::uint8_t> Bytes(Data, Size);
    if (const auto Header = ReadSequenceHeader(Bytes))
        IsMPEG2Sequence(Bytes.subspan(Header->End));
    TAudioFrameHeader Header;
    if (FindAudioFrameHeader(Bytes, Header))
        FindFrameOf(Header, Data, Size);
    DecodeEAC3FrameHeader(Bytes);
    DecodeADTSHeader(Bytes);
    DecodeLATMConfig(Bytes);
    DVBText(Bytes);
    TPESInfo PES;
    DecodePESHeader(Bytes, 0, PES);
    for (const TStreamCoding Coding : {scMPEGAudio, scAC3, scAAC, scLATM, scDTS}) {
        TStreamInfo Stream;
        ReadSoundFormat(Coding, Bytes, Stream);
        TSoundEnd End(Coding, 1920);
        End.Add(Size ? std::optional<std::int64_t>(Data[0]) : std::nullopt, Bytes);
        End.End();
    }
    // Pieces of the input as the payloads of a video and an audio stream.
    TVideoEnd Video;
    TAudioEnd Audio;
    TH264UnitSplitter Units;
    for (std::size_t At = 0; At < Size; At += 97) {
        const std::size_t Length = std::min<std::size_t>(97, Size - At);
        const bool Stamped = Data[At] & 1;
        Video.Add(Stamped ? std::optional<std::int64_t>(At * 3600) : std::nullopt, std::nullopt, Data + At,
                  Length);
        Audio.Add(Stamped ? std::optional<std::int64_t>(At * 2351) : std::nullopt, Data + At, Length);
        Units.Add(Data + At, Length, Stamped ? std::optional<std::int64_t>(At) : std::nullopt);
    }
    Video.End(3600);
    Audio.End();
    Units.Finish();
    // Every unit starts in the input, after the one before; a broken link
    // flag stands inside it.
    std::int64_t Last = -1;
    for (const TH264Unit& Unit : Units.Units()) {
        if (Unit.Start <= Last || Unit.Start >= static_cast<std::int64_t>(Size) ||
            (Unit.RecoveryPoint &&
             (Unit.BrokenLink.Byte < Unit.Start || Unit.BrokenLink.Byte >= static_cast<std::int64_t>(Size))))
            __builtin_trap();
        Last = Unit.Start;
        if (const TSequenceParameterSet* Sps = Units.Sets().Sps(Unit.SpsId)) {
            CpbSizeBits(*Sps);
            MaxDpbFrames(*Sps);
            H264VideoText(*Sps);
        }
    }
    LeadingPictures(Units.Units());
    DecodeHdmvLPCMHeader(Bytes);
    return 0;
}
