#include "probe/JoinRules.h"

#include "io/SysUtils.h"
#include "mpeg/ps/SubStreams.h"
#include "mpeg/ts/ProgramTables.h"
#include "mpeg/ts/TransportPacket.h"
#include "probe/MediaText.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

namespace vantrel {

namespace {

// The codecs of a program's sound streams, sorted: MPEG audio by its layer.
std::vector<std::pair<TAudioCodec, std::uint8_t>> SoundCodecs(const TMediaInfo& Info)
{
    std::vector<std::pair<TAudioCodec, std::uint8_t>> Codecs;
    for (const TStreamInfo& Stream : Info.Programs[Info.Program].Streams)
        if (Stream.Kind == skSound)
            Codecs.emplace_back(Stream.AudioCodec, Stream.AudioLayer);
    std::sort(Codecs.begin(), Codecs.end());
    return Codecs;
}

std::vector<std::uint16_t> ProgramNumbers(const TMediaInfo& Info)
{
    std::vector<std::uint16_t> Numbers;
    for (const TProgramInfo& Program : Info.Programs)
        Numbers.push_back(Program.Number);
    std::sort(Numbers.begin(), Numbers.end());
    return Numbers;
}

TFormatMatch CompareTransport(const TMediaInfo& A, const TMediaInfo& B)
{
    if (A.Programs.size() <= 1 && B.Programs.size() <= 1)
        return A.Programs.empty() || B.Programs.empty() || SoundCodecs(A) == SoundCodecs(B) ? fmSame
                                                                                            : fmAudioDiffers;
    if (ProgramNumbers(A) != ProgramNumbers(B))
        return fmVideoDiffers;
    TFormatMatch Worst = fmSame;
    for (const TProgramInfo& Program : A.Programs) {
        const TFormatMatch Match =
            CompareMediaInfo(*SelectProgram(A, Program.Number), *SelectProgram(B, Program.Number));
        if (Match == fmVideoDiffers)
            return Match;
        Worst = Match == fmAudioDiffers ? Match : Worst;
    }
    return Worst;
}

// The name of a video coding of a transport stream's programs that its join
// cannot cut at a joint; nothing when every one is MPEG-1, MPEG-2 or H.264
// video.
const char* UnjoinableVideo(const TMediaInfo& Info)
{
    for (const TProgramInfo& Program : Info.Programs)
        for (const TStreamInfo& Stream : Program.Streams) {
            const auto Coding = static_cast<TStreamCoding>(Stream.Coding);
            if (Stream.Kind == skVideo && Coding != scMPEG1Video && Coding != scMPEG2Video &&
                Coding != scH264)
                return StreamCodingName(Coding);
        }
    return nullptr;
}

} // namespace

std::optional<TMediaInfo> SelectProgram(const TMediaInfo& Info, std::uint16_t Number)
{
    const auto Program = std::find_if(Info.Programs.begin(), Info.Programs.end(),
                                      [Number](const TProgramInfo& P) { return P.Number == Number; });
    if (Program == Info.Programs.end())
        return std::nullopt;
    TMediaInfo One = Info;
    One.Programs = {*Program};
    DescribeProgram(One, 0);
    return One;
}

TFormatMatch CompareMediaInfo(const TMediaInfo& A, const TMediaInfo& B)
{
    // A program stream's packs and an MPEG-1 stream's do not mix either,
    // nor with a transport stream's packets.
    if (A.Width != B.Width || A.Height != B.Height || A.FrameRateCode != B.FrameRateCode ||
        A.ChromaFormat != B.ChromaFormat || A.MPEGVersion != B.MPEGVersion ||
        // MPEG-2's rate extension changes the rate of a code; H.264 has no
        // codes, and its fields or frames are its scan.
        (A.MPEGVersion >= 2 && A.FrameRate != B.FrameRate) ||
        (A.MPEGVersion == 4 && A.Progressive != B.Progressive) ||
        (A.IsSystemStream && B.IsSystemStream &&
         (A.ProgramStream != B.ProgramStream || A.TransportStream != B.TransportStream)) ||
        // Packets with arrival stamps and packets without do not mix.
        A.PacketSize != B.PacketSize)
        return fmVideoDiffers;
    if (A.TransportStream && B.TransportStream)
        return CompareTransport(A, B);
    if (A.HasAudio == B.HasAudio &&
        (!A.HasAudio || (A.AudioCodec == B.AudioCodec && A.AudioLayer == B.AudioLayer &&
                         A.SampleRate == B.SampleRate && A.ChannelMode == B.ChannelMode &&
                         A.AudioChannels == B.AudioChannels && A.LowFrequency == B.LowFrequency)))
        return fmSame;
    return fmAudioDiffers;
}

std::vector<TInputRecord> InputsOfProgram(const std::vector<TInputRecord>& Inputs, std::uint16_t Number)
{
    std::vector<TInputRecord> Cut = Inputs;
    if (Number == 0)
        return Cut;
    for (TInputRecord& Input : Cut) {
        if (!Input.Info.TransportStream)
            throw Exception("Only transport streams have programs to choose.");
        std::optional<TMediaInfo> Program = SelectProgram(Input.Info, Number);
        if (!Program && Input.Info.Programs.size() == 1)
            Program = SelectProgram(Input.Info, Input.Info.Programs.front().Number);
        if (!Program)
            throw Exception(Format("The file %s holds no program %u.",
                                   std::filesystem::path(Input.FileName).filename().string().c_str(),
                                   static_cast<unsigned>(Number)));
        Input.Info = *Program;
    }
    return Cut;
}

bool SameFormat(const TMediaInfo& A, const TMediaInfo& B)
{
    return A.IsSystemStream == B.IsSystemStream && A.ProgramStream == B.ProgramStream &&
           A.AudioStreamId == B.AudioStreamId && A.AudioSubStream == B.AudioSubStream &&
           A.TransportStream == B.TransportStream && A.PacketSize == B.PacketSize &&
           A.Programs == B.Programs && CompareMediaInfo(A, B) == fmSame;
}

bool AspectRatioDiffers(const TMediaInfo& Reference, const TMediaInfo& Info)
{
    // Code 0 is forbidden: a stream that carries it tells nothing of its shape.
    return CompareMediaInfo(Reference, Info) != fmVideoDiffers && Reference.AspectRatioCode != 0 &&
           Info.AspectRatioCode != 0 && Reference.AspectRatioCode != Info.AspectRatioCode;
}

TJoinDecision DecideJoin(const std::vector<const TMediaInfo*>& Infos)
{
    TJoinDecision Decision;
    if (Infos.empty()) {
        Decision.Message = "There are no files to join.";
        return Decision;
    }
    Decision.FrameRate = Infos.front()->FrameRate;
    TFormatMatch Worst = fmSame;
    bool HasVideoStream = false;
    for (const TMediaInfo* Info : Infos) {
        const TFormatMatch Match = CompareMediaInfo(*Infos.front(), *Info);
        if (Match == fmVideoDiffers || (Match == fmAudioDiffers && Worst == fmSame))
            Worst = Match;
        HasVideoStream = HasVideoStream || !Info->IsSystemStream;
    }
    if (Worst != fmVideoDiffers && Infos.front()->TransportStream) {
        if (const char* Codec = UnjoinableVideo(*Infos.front())) {
            Decision.Message = Format(TransportVideoMessage, Codec);
            return Decision;
        }
    }
    for (std::size_t I = 1; I < Infos.size(); ++I)
        if (Worst != fmSame && CompareMediaInfo(*Infos.front(), *Infos[I]) == Worst)
            Decision.Differing.push_back(I);
    switch (Worst) {
    case fmVideoDiffers: Decision.Message = VideoDiffersMessage; break;
    case fmAudioDiffers:
        // A transport stream without its sound would need tables of its own.
        if (Infos.front()->TransportStream) {
            Decision.Message = TransportSoundMessage;
            break;
        }
        Decision.Verdict = TJoinVerdict::AskVideoOnly;
        Decision.Message = AudioDiffersMessage;
        break;
    default: Decision.Verdict = HasVideoStream ? TJoinVerdict::JoinVideoOnly : TJoinVerdict::Join; break;
    }
    return Decision;
}

TJoinDecision DecideJoin(const std::vector<TInputRecord>& Inputs)
{
    std::vector<const TMediaInfo*> Infos;
    for (const TInputRecord& Input : Inputs)
        Infos.push_back(&Input.Info);
    TJoinDecision Decision = DecideJoin(Infos);
    if (Decision.Differing.empty())
        return Decision;
    const auto Name = [&Inputs](std::size_t I) {
        return std::filesystem::path(Inputs[I].FileName).filename().string();
    };
    const std::size_t First = Decision.Differing.front(), Others = Decision.Differing.size() - 1;
    const std::string Who =
        Name(First) + (Others == 0 ? "" : Format(" and %zu other file%s", Others, Others == 1 ? "" : "s"));
    const std::string How =
        (Others == 0 ? "" : Name(First) + ": ") + DifferenceDetail(Inputs.front().Info, Inputs[First].Info);
    const bool Video = Decision.Verdict == TJoinVerdict::Refuse && Decision.Message != TransportSoundMessage;
    const std::string Remedy = Others == 0 ? "Leave it out, or put first a file that it matches."
                                           : "Leave them out, or put another file first.";
    Decision.Message = (Video ? "The video of " : "The sound of ") + Who +
                       " differs from that of the first file, " + Name(0) + " (" + How + "): the files " +
                       (Video                                      ? "cannot be joined.\r\n" + Remedy
                        : Decision.Verdict == TJoinVerdict::Refuse ? "cannot be joined.\r\n" + Remedy
                                                                   : "can be joined only without sound.");
    return Decision;
}

const char* OutputExtension(const TMediaInfo& First, bool VideoOnly)
{
    if (First.TransportStream)
        return First.PacketSize == TransportPacketLength + ArrivalStampLength ? ".m2ts" : ".ts";
    if (VideoOnly || !First.IsSystemStream)
        return First.MPEGVersion == 2 ? ".m2v" : ".m1v";
    const bool Dvd = First.ProgramStream &&
                     ((First.HasAudio && First.AudioStreamId == PrivateStream1) || First.Subpictures > 0);
    return Dvd ? ".vob" : ".mpg";
}

std::string WithOutputExtension(const std::string& Name, const char* Extension)
{
    std::string Lower = Name;
    std::transform(Lower.begin(), Lower.end(), Lower.begin(),
                   [](unsigned char C) { return static_cast<char>(std::tolower(C)); });
    for (const std::string Known : OutputExtensions)
        if (Lower.size() > Known.size() && Lower.ends_with(Known) &&
            Lower[Lower.size() - Known.size() - 1] != '/')
            return Name;
    return Name + Extension;
}

} // namespace vantrel
