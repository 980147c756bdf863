#include "probe/TransportInfo.h"

#include "io/SysUtils.h"
#include "mpeg/StartCodes.h"
#include "mpeg/StreamEnd.h"
#include "mpeg/TimeStamps.h"
#include "mpeg/ts/ProgramTables.h"
#include "mpeg/ts/Sections.h"
#include "mpeg/ts/ServiceTable.h"
#include "mpeg/ts/TransportPES.h"
#include "mpeg/ts/TransportStreamReader.h"
#include "mpeg/video/SequenceHeader.h"
#include "probe/H264Settings.h"
#include "probe/SoundFrames.h"

#include <algorithm>
#include <map>
#include <memory>
#include <optional>
#include <set>

namespace vantrel {

namespace {

// The last pictures and sound frames are looked for in this much of the end.
constexpr std::int64_t TailBytes = 2 << 20;
// Payload gathered per stream: a sound stream shows its format in a few
// frames; a recording cut in a group of pictures may hold its first
// sequence header a second or so in.
constexpr std::size_t SoundBytes = 8192;
constexpr std::size_t VideoSearchLimit = 4 << 20;
// The first stamps of a stream, for where it starts: its first pictures in
// decode order may show after the next ones.
constexpr std::size_t StampsWanted = 8;
// DVB repeats its PMTs at least every 0.5 s and its SDT every 2 s: a table
// or a stream not seen in this much of the clock is not in the file.
constexpr std::int64_t TableWait = 3 * ClockRate;

// The video codings a join can cut at a joint.
bool IsJoinedVideo(TStreamCoding Coding)
{
    return Coding == scMPEG1Video || Coding == scMPEG2Video || Coding == scH264;
}

TStreamKind KindOf(TStreamCoding Coding)
{
    return IsVideoCoding(Coding)   ? skVideo
           : IsSoundCoding(Coding) ? skSound
           : Coding == scSubtitles ? skSubtitles
           : Coding == scTeletext  ? skTeletext
                                   : skOther;
}

// One stream whose packets are read for its format and first stamps.
struct TStreamProbe
{
    TStreamProbe(std::uint16_t PID, TStreamCoding Coding, std::size_t MaxPayload)
        : Coding(Coding), Assembler(PID, MaxPayload)
    {
    }
    TStreamCoding Coding;
    TPESAssembler Assembler;
    TStreamInfo Format; // its video or sound fields
    std::vector<std::uint8_t> Data;
    std::size_t Searched = 0;
    bool Done = false;
    bool Read = false; // the format was found
    bool Scrambled = false;
    std::int64_t Packets = 0;
    std::vector<std::int64_t> Stamps;
    std::unique_ptr<TH264SettingsReader> H264; // its settings, until they are read
};

// The smallest of stamps near each other on the wrapping clock.
std::optional<std::int64_t> Smallest(const std::vector<std::int64_t>& Stamps)
{
    if (Stamps.empty())
        return std::nullopt;
    std::int64_t Low = Stamps.front();
    for (const std::int64_t Stamp : Stamps)
        Low += std::min<std::int64_t>(ClockDistance(Low, Stamp), 0);
    return ClockValue(Low);
}

class TTransportProbe
{
public:
    TTransportProbe(TByteSource& Source, TMediaInfo& Info) : m_Source(Source), m_Info(Info) {}
    void Head(bool WithStamps);
    void Conclude();
    void Duration();

private:
    void OnPAT(std::span<const std::uint8_t> Section);
    void OnPMT(std::uint16_t PID, std::span<const std::uint8_t> Section);
    void OnSDT(std::span<const std::uint8_t> Section);
    void NamePrograms();
    void OnPES(TStreamProbe& Probe, const TTransportPES& PES);
    void Route(const TTransportPacket& Packet, const std::uint8_t* Bytes, bool Lost);
    bool Finished() const;
    void FinishProbe(TStreamProbe& Probe);
    [[noreturn]] void Refuse() const;

    TByteSource& m_Source;
    TMediaInfo& m_Info;
    bool m_WithStamps = true;
    TSectionAssembler m_PAT, m_SDT;
    std::map<std::uint16_t, TSectionAssembler> m_PMTs;
    std::map<std::uint16_t, std::unique_ptr<TStreamProbe>> m_Probes;
    std::set<std::uint8_t> m_PATSections, m_SDTSections;
    std::optional<std::uint8_t> m_PATVersion;
    bool m_PATDone = false, m_SDTDone = false;
    // The services the SDT named, kept for programs the PAT lists later (a
    // muxer may send the SDT first).
    std::vector<TService> m_Services;
    std::set<std::size_t> m_PMTRead; // indices into m_Info.Programs
    // The clock that has passed since the first PCR, for what is not sent.
    std::optional<std::uint16_t> m_ClockPID;
    std::int64_t m_LastPCR = 0, m_Elapsed = 0;
};

void TTransportProbe::OnPAT(std::span<const std::uint8_t> Section)
{
    const std::optional<TPAT> PAT = DecodePAT(Section);
    if (!PAT || m_PATDone || !DecodeSectionHeader(Section)->CurrentNext)
        return;
    if (m_PATVersion != PAT->Version)
        m_PATSections.clear();
    m_PATVersion = PAT->Version;
    for (const TPATEntry& Entry : PAT->Programs) {
        const auto Known = [&](const TProgramInfo& P) { return P.Number == Entry.ProgramNumber; };
        if (Entry.ProgramNumber == 0 || std::any_of(m_Info.Programs.begin(), m_Info.Programs.end(), Known))
            continue;
        m_Info.Programs.push_back({Entry.ProgramNumber, Entry.PID, 0, {}, {}, {}});
        TSectionAssembler& PMT = m_PMTs[Entry.PID];
        PMT.OnSection = [this, PID = Entry.PID](std::span<const std::uint8_t> S) { OnPMT(PID, S); };
    }
    m_PATSections.insert(PAT->SectionNumber);
    m_PATDone = m_PATSections.size() > PAT->LastSectionNumber;
    NamePrograms();
}

void TTransportProbe::OnPMT(std::uint16_t PID, std::span<const std::uint8_t> Section)
{
    const std::optional<TPMT> PMT = DecodePMT(Section);
    if (!PMT)
        return;
    for (std::size_t I = 0; I < m_Info.Programs.size(); ++I) {
        TProgramInfo& Program = m_Info.Programs[I];
        if (Program.Number != PMT->ProgramNumber || Program.PMTPID != PID || m_PMTRead.count(I))
            continue;
        m_PMTRead.insert(I);
        Program.PCRPID = PMT->PCRPID;
        for (const TPMTStream& Entry : PMT->Streams) {
            TStreamInfo Stream;
            Stream.PID = Entry.PID;
            Stream.StreamType = Entry.StreamType;
            const TStreamCoding Coding = StreamCodingOf(Entry, PMT->Descriptors);
            Stream.Coding = Coding;
            Stream.Kind = KindOf(Coding);
            Stream.Languages = Entry.Descriptors.Languages;
            Stream.AudioCodec = SoundCodecOf(Coding);
            Program.Streams.push_back(Stream);
            // Private data without a descriptor that names it is told by
            // its packets: MPEG audio by its stream id, AC-3 by its frames.
            const bool Unnamed = Coding == scOther && Entry.StreamType == PrivateDataType;
            if ((Stream.Kind == skVideo || Stream.Kind == skSound || Unnamed) && !m_Probes.count(Entry.PID)) {
                auto Probe = std::make_unique<TStreamProbe>(
                    Entry.PID, Coding, Stream.Kind == skVideo ? VideoSearchLimit : SoundBytes);
                Probe->Assembler.OnPES = [this, P = Probe.get()](const TTransportPES& PES) {
                    OnPES(*P, PES);
                };
                // Pictures of codings not joined are not searched.
                Probe->Done = Stream.Kind == skVideo && !IsJoinedVideo(Coding);
                m_Probes[Entry.PID] = std::move(Probe);
            }
        }
    }
}

void TTransportProbe::OnSDT(std::span<const std::uint8_t> Section)
{
    const std::optional<TSDT> SDT = DecodeSDT(Section);
    if (!SDT)
        return;
    m_Services.insert(m_Services.end(), SDT->Services.begin(), SDT->Services.end());
    NamePrograms();
    m_SDTSections.insert(DecodeSectionHeader(Section)->SectionNumber);
    m_SDTDone = m_SDTSections.size() > DecodeSectionHeader(Section)->LastSectionNumber;
}

void TTransportProbe::NamePrograms()
{
    for (const TService& Service : m_Services)
        for (TProgramInfo& Program : m_Info.Programs)
            if (Program.Number == Service.ServiceId && Program.Name.empty()) {
                Program.Name = Service.Name;
                Program.Provider = Service.Provider;
            }
}

void TTransportProbe::OnPES(TStreamProbe& Probe, const TTransportPES& PES)
{
    if (Probe.Coding == scOther && !PES.Payload.empty()) {
        const TStreamInfo Sniffed = [&] {
            TStreamInfo Format;
            const bool SyncFirst = PES.Payload.size() > 1 && PES.Payload[0] == 0x0B && PES.Payload[1] == 0x77;
            return SyncFirst && ReadSoundFormat(scAC3, PES.Payload, Format) ? Format : TStreamInfo{};
        }();
        Probe.Coding = IsAudioStream(PES.Header.StreamId) ? scMPEGAudio
                       : Sniffed.AudioCodec == acEAC3     ? scEnhancedAC3
                       : Sniffed.AudioCodec == acAC3      ? scAC3
                                                          : scOther;
        Probe.Done = Probe.Coding == scOther;
    }
    if (PES.Header.HasPTS && Probe.Stamps.size() < StampsWanted)
        Probe.Stamps.push_back(PES.Header.PTS);
    if (Probe.Done)
        return;
    if (Probe.Coding == scH264) {
        if (!Probe.H264)
            Probe.H264 = std::make_unique<TH264SettingsReader>();
        Probe.Read = Probe.Done =
            Probe.H264->Add(PES.Payload, PES.Header.HasPTS ? std::optional(PES.Header.PTS) : std::nullopt);
        if (Probe.Read)
            Probe.Format = Probe.H264->Format();
        if (!Probe.Done && Probe.H264->Bytes() >= static_cast<std::int64_t>(VideoSearchLimit))
            FinishProbe(Probe);
        return;
    }
    Probe.Data.insert(Probe.Data.end(), PES.Payload.begin(), PES.Payload.end());
    if (KindOf(Probe.Coding) == skVideo) {
        TMediaInfo Video;
        if (ReadVideoSettings(Probe.Data, Video, Probe.Searched, false)) {
            CopyVideoFields(Video, Probe.Format);
            Probe.Read = Probe.Done = true;
            Probe.Data.clear();
            return;
        }
        // A header near the end is read again when what follows it is in.
        Probe.Searched = Probe.Data.size() - std::min<std::size_t>(Probe.Data.size(), 200);
        Probe.Done = Probe.Data.size() >= VideoSearchLimit;
    } else if (Probe.Data.size() >= SoundBytes) {
        FinishProbe(Probe);
    }
}

void TTransportProbe::FinishProbe(TStreamProbe& Probe)
{
    if (Probe.Read)
        return;
    if (KindOf(Probe.Coding) == skVideo) {
        TMediaInfo Video;
        if (Probe.Coding <= scMPEG2Video && ReadVideoSettings(Probe.Data, Video, Probe.Searched)) {
            CopyVideoFields(Video, Probe.Format);
            Probe.Read = true;
        } else if (Probe.Coding == scH264 && Probe.H264 && Probe.H264->Finish()) {
            Probe.Format = Probe.H264->Format();
            Probe.Read = true;
        }
    } else {
        Probe.Read = ReadSoundFormat(Probe.Coding, Probe.Data, Probe.Format);
    }
    Probe.Done = true;
    Probe.Data.clear();
    Probe.Data.shrink_to_fit();
}

void TTransportProbe::Route(const TTransportPacket& Packet, const std::uint8_t* Bytes, bool Lost)
{
    if (Packet.HasPCR && (!m_ClockPID || *m_ClockPID == Packet.PID)) {
        // Steps of more than a second are a new clock, not time gone by.
        if (m_ClockPID)
            m_Elapsed += std::clamp<std::int64_t>(ClockDistance(m_LastPCR, Packet.PCRBase), 0, ClockRate);
        m_ClockPID = Packet.PID;
        m_LastPCR = Packet.PCRBase;
    }
    if (Packet.PID == PATPID) {
        m_PAT.Add(Packet, Bytes, Lost);
    } else if (Packet.PID == SDTPID) {
        m_SDT.Add(Packet, Bytes, Lost);
    } else if (const auto PMT = m_PMTs.find(Packet.PID); PMT != m_PMTs.end()) {
        PMT->second.Add(Packet, Bytes, Lost);
    }
    if (const auto Probe = m_Probes.find(Packet.PID); Probe != m_Probes.end()) {
        TStreamProbe& P = *Probe->second;
        ++P.Packets;
        P.Scrambled = P.Scrambled || Packet.Scrambling != 0;
        // A stream whose format and first stamps are read has nothing more
        // to tell while the walk waits for another one.
        if (!P.Done || P.Stamps.size() < StampsWanted)
            P.Assembler.Add(Packet, Bytes, Lost);
    }
}

bool TTransportProbe::Finished() const
{
    const bool Waited = m_Elapsed > TableWait;
    if (!m_PATDone || (m_PMTRead.size() < m_Info.Programs.size() && !Waited))
        return false;
    for (const auto& [PID, Probe] : m_Probes) {
        // The duration comes from the pictures' and the sound's stamps: a
        // data stream's or the subtitles' (sparse, or none) are not awaited.
        const TStreamKind Kind = KindOf(Probe->Coding);
        const bool Stamped =
            !m_WithStamps || Probe->Stamps.size() >= StampsWanted || (Kind != skVideo && Kind != skSound);
        if (!((Probe->Done && Stamped) || (Waited && Probe->Packets == 0) || Probe->Scrambled))
            return false;
    }
    return m_SDTDone || Waited;
}

void TTransportProbe::Head(bool WithStamps)
{
    m_WithStamps = WithStamps;
    TTransportStreamReader Reader;
    if (!Reader.Open(m_Source, 0, ResyncLimit))
        throw Exception("Unable to read the file format.");
    Reader.ScanProgress = [](std::int64_t Position) { return Position > TransportHeadBytes; };
    m_Info.IsSystemStream = m_Info.TransportStream = true;
    m_Info.PacketSize = Reader.PacketSize();
    m_PAT.OnSection = [this](std::span<const std::uint8_t> S) { OnPAT(S); };
    m_SDT.OnSection = [this](std::span<const std::uint8_t> S) { OnSDT(S); };
    TContinuityTracker Continuity;
    while (Reader.NextPacket() && Reader.Packet().Position < TransportHeadBytes) {
        const TTransportPacket& Packet = Reader.Packet();
        const TContinuity C = Continuity.Check(Packet);
        if (C == ccDuplicate || Packet.TransportError)
            continue;
        Route(Packet, Reader.Bytes(), C == ccLost);
        if (Finished())
            break;
    }
    for (auto& [PID, Probe] : m_Probes) {
        Probe->Assembler.Flush();
        FinishProbe(*Probe);
    }
}

[[noreturn]] void TTransportProbe::Refuse() const
{
    if (m_Info.Programs.empty())
        throw Exception("Unable to find the programs of this transport stream.");
    const char* Message = "Unable to find video stream";
    for (const TProgramInfo& Program : m_Info.Programs)
        for (const TStreamInfo& Stream : Program.Streams) {
            if (Stream.Kind != skVideo)
                continue;
            const auto Coding = static_cast<TStreamCoding>(Stream.Coding);
            if (!IsJoinedVideo(Coding))
                throw Exception(
                    Format("This file's video is %s, which cannot be joined yet.", StreamCodingName(Coding)));
            if (m_Probes.at(Stream.PID)->Scrambled)
                throw Exception("This file's video is scrambled and cannot be read.");
            Message = "Unable to read video settings";
        }
    throw Exception(Message);
}

void TTransportProbe::Conclude()
{
    std::vector<TProgramInfo> Kept;
    for (std::size_t I = 0; I < m_Info.Programs.size(); ++I) {
        TProgramInfo& Program = m_Info.Programs[I];
        // A program of the PAT whose PMT or streams the file does not hold
        // (a recorder that kept the whole PAT) is not in it.
        bool Present = false;
        for (TStreamInfo& Stream : Program.Streams)
            if (const auto Probe = m_Probes.find(Stream.PID); Probe != m_Probes.end()) {
                Present = Present || Probe->second->Packets > 0;
                if (Stream.Coding != Probe->second->Coding) {
                    Stream.Coding = Probe->second->Coding;
                    Stream.Kind = KindOf(Probe->second->Coding);
                    Stream.AudioCodec = SoundCodecOf(Probe->second->Coding);
                }
                if (Probe->second->Read) {
                    CopyVideoFields(Probe->second->Format, Stream);
                    CopySoundFields(Probe->second->Format, Stream);
                }
            }
        if (m_PMTRead.count(I) && (Present || m_Info.Programs.size() == 1))
            Kept.push_back(std::move(Program));
    }
    m_Info.Programs = std::move(Kept);
    for (std::size_t I = 0; I < m_Info.Programs.size(); ++I)
        for (const TStreamInfo& Stream : m_Info.Programs[I].Streams)
            if (Stream.Kind == skVideo && m_Probes.at(Stream.PID)->Read) {
                DescribeProgram(m_Info, I);
                return;
            }
    Refuse();
}

void TTransportProbe::Duration()
{
    const TProgramInfo& Program = m_Info.Programs[m_Info.Program];
    const auto First = [&](TStreamKind Kind) -> const TStreamInfo* {
        for (const TStreamInfo& Stream : Program.Streams)
            if (Stream.Kind == Kind)
                return &Stream;
        return nullptr;
    };
    const TStreamInfo* VideoStream = First(skVideo);
    const TStreamInfo* SoundStream = First(skSound);
    const std::optional<std::int64_t> VideoFirst = Smallest(m_Probes.at(VideoStream->PID)->Stamps);
    const std::optional<std::int64_t> SoundFirst =
        SoundStream ? Smallest(m_Probes.at(SoundStream->PID)->Stamps) : std::nullopt;
    if (!VideoFirst && !SoundFirst)
        return;
    const std::int64_t SoundStart = SoundFirst.value_or(0);
    const std::int64_t Origin = VideoFirst.value_or(SoundStart);
    const auto Continuous = [&](std::int64_t Stamp) { return Origin + ClockDistance(Origin, Stamp); };
    const auto Stamp = [&](bool Has, std::int64_t Value) {
        return Has ? std::optional(Continuous(Value)) : std::nullopt;
    };

    TTransportStreamReader Reader;
    if (!Reader.Open(m_Source, std::max<std::int64_t>(m_Source.Size() - TailBytes, 0), ResyncLimit))
        return;
    TVideoEnd Video;
    // LATM frames without a configuration of their own last as the last one
    // said; until one comes, as a plain AAC frame of 1024 samples.
    TSoundEnd Sound(SoundStream ? static_cast<TStreamCoding>(SoundStream->Coding) : scOther,
                    SoundStream && SoundStream->SampleRate ? 1024.0 * ClockRate / SoundStream->SampleRate
                                                           : 0);
    TPESAssembler VideoPES(VideoStream->PID, TailBytes),
        SoundPES(SoundStream ? SoundStream->PID : 0, TailBytes);
    VideoPES.OnPES = [&](const TTransportPES& PES) {
        Video.Add(Stamp(PES.Header.HasPTS, PES.Header.PTS), Stamp(PES.Header.HasDTS, PES.Header.DTS),
                  PES.Payload.data(), PES.Payload.size());
    };
    SoundPES.OnPES = [&](const TTransportPES& PES) {
        Sound.Add(Stamp(PES.Header.HasPTS, PES.Header.PTS), PES.Payload);
    };
    TContinuityTracker Continuity;
    while (Reader.NextPacket()) {
        const TTransportPacket& Packet = Reader.Packet();
        const TContinuity C = Continuity.Check(Packet);
        if (C == ccDuplicate)
            continue;
        if (Packet.PID == VideoStream->PID)
            VideoPES.Add(Packet, Reader.Bytes(), C == ccLost);
        else if (SoundStream && Packet.PID == SoundStream->PID)
            SoundPES.Add(Packet, Reader.Bytes(), C == ccLost);
    }
    VideoPES.Flush();
    SoundPES.Flush();
    std::int64_t Longest = 0;
    if (const auto Last = Video.End(static_cast<std::int64_t>(TicksPerFrame(m_Info.FrameRate)));
        VideoFirst && Last)
        Longest = *Last - Origin;
    if (const auto Last = Sound.End(); SoundFirst && Last)
        Longest = std::max(Longest, *Last - Continuous(SoundStart));
    m_Info.Duration = static_cast<double>(Longest) / ClockRate;
}

} // namespace

void ProbeTransportStream(TByteSource& Source, TMediaInfo& Info, bool WithDuration)
{
    TTransportProbe Probe(Source, Info);
    Probe.Head(WithDuration);
    Probe.Conclude();
    if (WithDuration)
        Probe.Duration();
}

} // namespace vantrel
