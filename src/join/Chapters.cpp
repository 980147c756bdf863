#include "join/Chapters.h"

#include "join/ProgramStreamPass.h"
#include "join/TransportLead.h"

#include "io/SysUtils.h"
#include "mpeg/StreamEnd.h"
#include "mpeg/TimeStamps.h"
#include "mpeg/ps/ProgramStreamReader.h"
#include "mpeg/video/SequenceHeader.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <filesystem>

namespace vantrel {

namespace {

constexpr std::int64_t TailBytes = 1 << 20;
constexpr int HeadPackets = 256;
constexpr std::size_t SpacedPacks = 8;

double Seconds(std::int64_t Ticks)
{
    return static_cast<double>(Ticks) / ClockRate;
}

// The first stamp of any packet, and the size of the first packs while they
// keep one.
void ReadHead(TProgramStreamReader& Reader, std::optional<std::int64_t>& FirstStamp, std::int64_t& PackSize)
{
    std::vector<std::int64_t> Packs;
    for (int I = 0; I < HeadPackets && Reader.NextPacket(); ++I) {
        const TPESInfo& PES = Reader.PES();
        if (Reader.PacketKind() == pkPackHeader && Packs.size() < SpacedPacks)
            Packs.push_back(Reader.PacketPosition());
        if (!FirstStamp && Reader.PacketKind() == pkPES && (PES.HasPTS || PES.HasDTS))
            FirstStamp = PES.HasPTS ? PES.PTS : PES.DTS;
    }
    PackSize = Packs.size() > 2 ? Packs[1] - Packs[0] : 0;
    for (std::size_t I = 2; I < Packs.size(); ++I)
        if (Packs[I] - Packs[I - 1] != PackSize)
            PackSize = 0;
}

// Where the last picture in the file's last megabyte stops showing, on the
// time line continued from Origin.
std::optional<std::int64_t> PicturesEnd(TProgramStreamReader& Reader, std::int64_t Size, std::int64_t Origin,
                                        double FrameRate)
{
    Reader.Seek(std::max<std::int64_t>(Size - TailBytes, 0));
    const auto Continuous = [Origin](bool Has, std::int64_t Stamp) {
        return Has ? std::optional(Origin + ClockDistance(Origin, Stamp)) : std::nullopt;
    };
    TVideoEnd Video;
    std::vector<std::uint8_t> Payload;
    while (Reader.NextPacket()) {
        const TPESInfo& PES = Reader.PES();
        if (Reader.PacketKind() != pkPES || PES.StreamId != FirstVideoStream || !Reader.PESHeaderFits())
            continue;
        Payload.resize(PES.PayloadLength);
        Reader.ReadPayload(Payload.data());
        Video.Add(Continuous(PES.HasPTS, PES.PTS), Continuous(PES.HasDTS, PES.DTS), Payload.data(),
                  Payload.size());
    }
    return Video.End(std::llround(TicksPerFrame(FrameRate)));
}

// A file's name as a chapter's: without folder and extension, its control
// characters as spaces and bytes that are not UTF-8 as U+FFFD.
std::string ChapterName(const std::string& FileName)
{
    const std::string Stem = std::filesystem::path(FileName).stem().string();
    std::string Name;
    for (std::size_t I = 0; I < Stem.size();) {
        const std::size_t Length = Utf8Length(Stem, I);
        if (Length == 0) {
            Name += "\xEF\xBF\xBD";
            ++I;
            continue;
        }
        const auto C = static_cast<unsigned char>(Stem[I]);
        Name += Length == 1 && (C < 0x20 || C == 0x7F) ? std::string(" ") : Stem.substr(I, Length);
        I += Length;
    }
    return Name;
}

std::string XmlText(const std::string& Text)
{
    std::string Out;
    for (const char C : Text) {
        switch (C) {
        case '&': Out += "&amp;"; break;
        case '<': Out += "&lt;"; break;
        case '>': Out += "&gt;"; break;
        case '"': Out += "&quot;"; break;
        case '\'': Out += "&apos;"; break;
        default: Out += C;
        }
    }
    return Out;
}

// A comment that names a chapter: "--" may not stand in one.
std::string XmlComment(const std::string& Text)
{
    std::string Out;
    for (const char C : Text)
        Out += C == '-' && !Out.empty() && Out.back() == '-' ? std::string(" -") : std::string(1, C);
    if (!Out.empty() && Out.back() == '-')
        Out += ' ';
    return "<!-- " + Out + " -->";
}

// ffmpeg's metadata file: '=', ';', '#', '\' and line breaks are escaped
// with a backslash.
std::string MetadataText(const std::string& Text)
{
    std::string Out;
    for (const char C : Text) {
        if (C == '=' || C == ';' || C == '#' || C == '\\' || C == '\n' || C == '\r')
            Out += '\\';
        Out += C;
    }
    return Out;
}

std::string ChapterLine(std::size_t Index, const TChapter& Chapter, double Start)
{
    return Format("%zu %s %s", Index + 1, ChapterTime(Start).c_str(), Chapter.Name.c_str());
}

// Time stamps of the chapter list's formats: where each chapter starts.
double PlainStart(const TChapterList& List, std::size_t I)
{
    return List.Chapters[I].PictureStart;
}
// dvdauthor counts from the output's first picture.
double DvdStart(const TChapterList& List, std::size_t I)
{
    return I == 0 ? 0 : std::max(List.Chapters[I].Start - List.FirstPicture, 0.0);
}

std::string TextList(const TChapterList& List)
{
    std::string Out;
    for (std::size_t I = 0; I < List.Chapters.size(); ++I) {
        const std::string Number = Format("CHAPTER%02zu", I + 1);
        Out += Number + "=" + ChapterTime(PlainStart(List, I)) + "\n";
        Out += Number + "NAME=" + List.Chapters[I].Name + "\n";
    }
    return Out;
}

std::string MetadataList(const TChapterList& List)
{
    std::string Out = ";FFMETADATA1\n";
    const auto Millis = [](double Seconds) { return std::llround(Seconds * 1000); };
    for (std::size_t I = 0; I < List.Chapters.size(); ++I) {
        const double End = I + 1 < List.Chapters.size() ? List.Chapters[I + 1].Start : List.End;
        Out += Format("\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=%lld\nEND=%lld\n", Millis(List.Chapters[I].Start),
                      std::max(Millis(End), Millis(List.Chapters[I].Start)));
        Out += "title=" + MetadataText(List.Chapters[I].Name) + "\n";
    }
    return Out;
}

std::string DvdAuthorList(const TChapterList& List)
{
    const std::string Format_ = std::abs(List.FrameRate - 25) < 0.01 ? "pal" : "ntsc";
    std::string Chapters, Names;
    for (std::size_t I = 0; I < List.Chapters.size(); ++I) {
        Chapters += (I ? "," : "") + ChapterTime(DvdStart(List, I));
        Names += "        " + XmlComment(ChapterLine(I, List.Chapters[I], DvdStart(List, I))) + "\n";
    }
    const std::filesystem::path Output(List.Output);
    const std::string Dest = (Output.parent_path() / (Output.stem().string() + "-dvd")).string();
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<dvdauthor dest=\"" +
           XmlText(Dest) +
           "\">\n"
           "  <vmgm>\n"
           "    <menus>\n"
           "      <video format=\"" +
           Format_ +
           "\" />\n"
           "    </menus>\n"
           "  </vmgm>\n"
           "  <titleset>\n"
           "    <titles>\n"
           "      <pgc>\n" +
           Names + "        <vob file=\"" + XmlText(List.Output) + "\" chapters=\"" + Chapters +
           "\" />\n"
           "      </pgc>\n"
           "    </titles>\n"
           "  </titleset>\n"
           "</dvdauthor>\n";
}

// A disc's volume name: ISO 9660's d-characters, at most 16 of them.
std::string VolumeId(const std::string& Output)
{
    std::string Id;
    for (const char C : std::filesystem::path(Output).stem().string())
        if (Id.size() < 16)
            Id += std::isalnum(static_cast<unsigned char>(C)) && static_cast<unsigned char>(C) < 0x80
                      ? static_cast<char>(std::toupper(static_cast<unsigned char>(C)))
                      : '_';
    return Id.empty() ? "VIDEOCD" : Id;
}

// The first chapter is where the sequence itself starts; each later one is
// an entry point, which vcdimager puts at the nearest picture a player can
// start at.
std::string VcdImagerList(const TChapterList& List)
{
    const bool Svcd = List.Disc == TDiscKind::Svcd;
    const std::string Volume = VolumeId(List.Output);
    std::string Entries;
    for (std::size_t I = 0; I < List.Chapters.size(); ++I) {
        const double Start = List.Chapters[I].Start;
        Entries += "      " + XmlComment(ChapterLine(I, List.Chapters[I], Start)) + "\n";
        if (I > 0)
            Entries += Format("      <entry id=\"entry-%03zu\">%.3f</entry>\n", I, Start);
    }
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<!DOCTYPE videocd PUBLIC \"-//GNU//DTD VideoCD//EN\" "
           "\"http://www.gnu.org/software/vcdimager/videocd.dtd\">\n"
           "<videocd xmlns=\"http://www.gnu.org/software/vcdimager/1.0/\" class=\"" +
           std::string(Svcd ? "svcd" : "vcd") + "\" version=\"" + (Svcd ? "1.0" : "2.0") +
           "\">\n"
           "  <info>\n"
           "    <album-id>" +
           Volume +
           "</album-id>\n"
           "    <volume-count>1</volume-count>\n"
           "    <volume-number>1</volume-number>\n"
           "  </info>\n"
           "  <pvd>\n"
           "    <volume-id>" +
           Volume +
           "</volume-id>\n"
           "  </pvd>\n"
           "  <sequence-items>\n"
           "    <sequence-item src=\"" +
           XmlText(List.Output) + "\" id=\"sequence-00\">\n" + Entries +
           "    </sequence-item>\n"
           "  </sequence-items>\n"
           "</videocd>\n";
}

// A transport stream's times from its head as its join reads it: its
// stamps on its own line, which starts at its smallest first PTS.
TInputTimes TransportTimes(TByteSource& Source, const TInputRecord& Record)
{
    TInputTimes Times;
    // Its pictures run about as long as its stamps, from its first picture.
    TMediaInfo Info = Record.Info;
    if (Info.Duration <= 0)
        ProbeMediaFile(Source, Info, true);
    const std::optional<TPacketLayout> Layout = FindPacketLayout(Source, 0, ResyncLimit);
    if (!Layout)
        return Times;
    const TPIDMap Map;
    const double FrameRate = Record.Info.FrameRate > 0 ? Record.Info.FrameRate : 25;
    const TTransportHead Head = ReadTransportHead(Source, *Layout, KeptStreams(Record.Info, 0, Map), Map,
                                                  std::llround(ClockRate / FrameRate));
    if (!Head.FirstPTS)
        return Times;
    Times.TimeLine = Head.FirstPTS;
    const std::int64_t Start = Head.Anchor + ClockDistance(Head.Anchor, *Head.FirstPTS);
    Times.FirstStamp = Seconds(Head.FirstStamp.value_or(Start) - Start);
    Times.FirstPicture = Seconds(Head.FirstPicture.value_or(Start) - Start);
    Times.Pictures = std::max(Info.Duration - Times.FirstPicture, 0.0);
    return Times;
}

} // namespace

TInputTimes ReadInputTimes(const TInputRecord& Record)
{
    TInputFile File(Record.FileName);
    return ReadInputTimes(File.Source(), Record);
}

TInputTimes ReadInputTimes(TByteSource& Source, const TInputRecord& Record)
{
    TInputTimes Times;
    if (Record.Kind == mfkTransportStream)
        return TransportTimes(Source, Record);
    if (Record.Kind != mfkSystemStream) {
        // An elementary stream's pictures are its time line: count them.
        TMediaInfo Info = Record.Info;
        if (Info.Duration <= 0)
            ProbeMediaFile(Source, Info, true);
        Times.Pictures = Info.Duration;
        return Times;
    }
    TProgramStreamReader Reader;
    Reader.Open(Source);
    Reader.SetProgramStream(Record.Info.ProgramStream);
    const std::optional<std::int64_t> Start =
        SmallestFirstPTS(Reader, Reader.ProgramStream() ? PrivateStream1 : FirstAudioStream, LastVideoStream);
    const std::optional<std::int64_t> Picture = SmallestFirstPTS(Reader, FirstVideoStream, FirstVideoStream);
    std::optional<std::int64_t> FirstStamp;
    ReadHead(Reader, FirstStamp, Times.PackSize);
    if (!Start)
        return Times;
    Times.TimeLine = Start;
    Times.FirstStamp = Seconds(ClockDistance(*Start, FirstStamp.value_or(*Start)));
    if (!Picture)
        return Times;
    Times.FirstPicture = Seconds(ClockDistance(*Start, *Picture));
    if (const auto End = PicturesEnd(Reader, Source.Size(), *Picture, Record.Info.FrameRate))
        Times.Pictures = std::max(Seconds(*End - *Picture), 0.0);
    return Times;
}

std::vector<TInputPlacement> PlaceInputs(const TJoiner& Joiner, const std::vector<TInputTimes>& Times)
{
    std::vector<TInputPlacement> Placements(Joiner.Inputs.size());
    if (Placements.empty())
        return Placements;
    // Stamps kept as they are: each file stands where its own say.
    if (!Joiner.RecalcTimecodes && !Joiner.VideoOnly) {
        for (std::size_t I = 1; I < Placements.size(); ++I)
            if (Times[I].TimeLine && Times.front().TimeLine)
                Placements[I].Start = Seconds(ClockDistance(*Times.front().TimeLine, *Times[I].TimeLine));
        return Placements;
    }
    // The one place that reads the join's plan: seconds from its first
    // written stamp, which stands FirstStamp after the output's start.
    std::vector<std::optional<TInputPlacement>> Joined(Placements.size());
    const TJoinPlan& Plan = Joiner.Plan();
    for (std::size_t I = 1; !Joiner.VideoOnly && I < Plan.Files.size() && I < Joined.size(); ++I)
        if (Joiner.Inputs[I].Kind == mfkSystemStream || Joiner.Inputs[I].Kind == mfkTransportStream)
            Joined[I] = TInputPlacement{Plan.Files[I].Time + Times.front().FirstStamp, Plan.Files[I].Pause(),
                                        Plan.Files[I].Continues, Plan.Files[I].Transport.LeadingPictures,
                                        Plan.Files[I].Transport.BrokenLink.has_value()};
    // Without joints (video only, elementary streams) the pictures follow
    // each other.
    for (std::size_t I = 1; I < Placements.size(); ++I) {
        const double Before = Joiner.VideoOnly ? 0 : Times[I - 1].FirstPicture;
        Placements[I] =
            Joined[I].value_or(TInputPlacement{Placements[I - 1].Start + Before + Times[I - 1].Pictures});
    }
    return Placements;
}

TDiscKind DiscKindOf(const TInputRecord& First, const TInputTimes& Times, bool VideoOnly)
{
    if (VideoOnly || First.Kind != mfkSystemStream)
        return TDiscKind::None;
    if (Times.PackSize == TProgramStreamPass::VcdSectorPayload)
        return First.Info.ProgramStream ? TDiscKind::Svcd : TDiscKind::Vcd;
    if (Times.PackSize == TProgramStreamPass::DvdSectorSize && First.Info.ProgramStream)
        return TDiscKind::Dvd;
    return TDiscKind::None;
}

std::optional<TChapterFormat> ChapterFormatNamed(const std::string& Name)
{
    if (Name == "txt")
        return TChapterFormat::Text;
    if (Name == "ffmetadata")
        return TChapterFormat::FFMetadata;
    if (Name == "dvdauthor")
        return TChapterFormat::DvdAuthor;
    if (Name == "vcdimager")
        return TChapterFormat::VcdImager;
    return std::nullopt;
}

std::optional<TChapterFormat> ChapterFormatOf(const std::string& FileName, TDiscKind Disc)
{
    std::string Extension = std::filesystem::path(FileName).extension().string();
    std::transform(Extension.begin(), Extension.end(), Extension.begin(),
                   [](unsigned char C) { return static_cast<char>(std::tolower(C)); });
    if (Extension == ".txt")
        return TChapterFormat::Text;
    if (Extension == ".ffmeta" || Extension == ".ffmetadata" || Extension == ".meta")
        return TChapterFormat::FFMetadata;
    if (Extension == ".xml")
        return Disc == TDiscKind::Vcd || Disc == TDiscKind::Svcd ? TChapterFormat::VcdImager
                                                                 : TChapterFormat::DvdAuthor;
    return std::nullopt;
}

TChapterFormat ChapterFormatFor(TDiscKind Disc)
{
    switch (Disc) {
    case TDiscKind::Dvd: return TChapterFormat::DvdAuthor;
    case TDiscKind::Vcd:
    case TDiscKind::Svcd: return TChapterFormat::VcdImager;
    case TDiscKind::None: break;
    }
    return TChapterFormat::Text;
}

std::string ChapterFileName(const std::string& Output, TChapterFormat Format)
{
    static constexpr const char* Suffixes[] = {".chapters.txt", ".ffmeta", ".dvdauthor.xml",
                                               ".vcdimager.xml"};
    std::filesystem::path Name(Output);
    Name.replace_extension();
    return Name.string() + Suffixes[static_cast<int>(Format)];
}

TChapterList MakeChapterList(const std::vector<TInputRecord>& Inputs, const std::vector<TInputTimes>& Times,
                             const std::vector<TInputPlacement>& Placements, const std::string& Output,
                             bool VideoOnly)
{
    TChapterList List;
    List.Output = std::filesystem::absolute(Output).string();
    List.Disc = Inputs.empty() ? TDiscKind::None : DiscKindOf(Inputs.front(), Times.front(), VideoOnly);
    List.FrameRate = Inputs.empty() ? 25 : Inputs.front().Info.FrameRate;
    // An output of video only has no sound to start before its pictures.
    List.FirstPicture = VideoOnly || Times.empty() ? 0 : Times.front().FirstPicture;
    double Pictures = List.FirstPicture;
    for (std::size_t I = 0; I < Inputs.size(); ++I) {
        TChapter Chapter{ChapterName(Inputs[I].FileName), 0, I == 0 ? 0 : Pictures};
        // A file that continues its recording shows its first picture where
        // the one before stops.
        if (I > 0)
            Chapter.Start =
                Placements[I].Start + (VideoOnly || Placements[I].Continues ? 0 : Times[I].FirstPicture);
        Pictures += Times[I].Pictures;
        List.Chapters.push_back(std::move(Chapter));
    }
    List.End = List.Chapters.empty() ? 0 : std::max(List.Chapters.back().Start, 0.0) + Times.back().Pictures;
    return List;
}

std::string ChapterText(const TChapterList& List, TChapterFormat Format)
{
    switch (Format) {
    case TChapterFormat::Text: return TextList(List);
    case TChapterFormat::FFMetadata: return MetadataList(List);
    case TChapterFormat::DvdAuthor: return DvdAuthorList(List);
    case TChapterFormat::VcdImager: return VcdImagerList(List);
    }
    return {};
}

std::string ChapterTime(double Seconds)
{
    const long long Millis = std::max(std::llround(Seconds * 1000), 0LL);
    return Format("%02lld:%02lld:%02lld.%03lld", Millis / 3600000, Millis / 60000 % 60, Millis / 1000 % 60,
                  Millis % 1000);
}

} // namespace vantrel
