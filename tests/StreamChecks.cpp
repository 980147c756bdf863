#include "StreamChecks.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <optional>
#include <set>
#include <tuple>

namespace vantrel::test {

namespace {
// An MPEG-2 pack header (ISO/IEC 13818-1, 2.5.3.3): '01' where MPEG-1 has '0010'.
bool IsProgramPack(const TBytes& File, std::size_t Pos)
{
    return Pos + 14 <= File.size() && (File[Pos + 4] & 0xC0) == 0x40;
}
// 12 for a pack header (14 and its stuffing in MPEG-2), else 6 + the length
// field; the caller has checked that the six bytes are there.
std::size_t PacketLengthAt(const TBytes& File, std::size_t Pos)
{
    if (File[Pos + 3] == 0xBA)
        return IsProgramPack(File, Pos) ? 14 + (File[Pos + 13] & 7) : 12;
    return 6 + ((File[Pos + 4] << 8) | File[Pos + 5]);
}
} // namespace

std::vector<std::size_t> PacketOffsets(const TBytes& File)
{
    std::vector<std::size_t> Offsets;
    std::size_t Pos = 0;
    while (Pos + 4 <= File.size()) {
        if (!(File[Pos] == 0 && File[Pos + 1] == 0 && File[Pos + 2] == 1 && File[Pos + 3] >= 0xBA)) {
            ++Pos;
            continue;
        }
        if (File[Pos + 3] != 0xBA && Pos + 6 > File.size())
            break;
        const std::size_t Length = PacketLengthAt(File, Pos);
        if (Pos + Length > File.size())
            break;
        Offsets.push_back(Pos);
        Pos += Length;
    }
    return Offsets;
}

std::vector<TBytes> SplitPackets(const TBytes& File)
{
    std::vector<TBytes> Packets;
    for (std::size_t Offset : PacketOffsets(File)) {
        Packets.emplace_back(File.begin() + static_cast<std::ptrdiff_t>(Offset),
                             File.begin() +
                                 static_cast<std::ptrdiff_t>(Offset + PacketLengthAt(File, Offset)));
    }
    return Packets;
}

namespace {

std::int64_t Stamp(const std::uint8_t* F)
{
    return (std::int64_t((F[0] >> 1) & 7) << 30) | (std::int64_t(((F[1] << 8) | F[2]) >> 1) << 15) |
           (((F[3] << 8) | F[4]) >> 1);
}

// -2^32 .. 2^32: time stamps either side of the 33-bit wrap are close.
std::int64_t Distance(std::int64_t From, std::int64_t To)
{
    const std::int64_t Wrap = std::int64_t{1} << 33;
    const std::int64_t D = ((To - From) % Wrap + Wrap) % Wrap;
    return D >= Wrap / 2 ? D - Wrap : D;
}

// The SCR and mux rate of the pack header at Pos, in either layout.
std::int64_t PackSCR(const TBytes& File, std::size_t Pos)
{
    if (!IsProgramPack(File, Pos))
        return Stamp(&File[Pos + 4]);
    const std::uint8_t* F = &File[Pos + 4];
    return (std::int64_t((F[0] >> 3) & 7) << 30) | (std::int64_t(F[0] & 3) << 28) |
           (std::int64_t(F[1]) << 20) | (std::int64_t(F[2] >> 3) << 15) | (std::int64_t(F[2] & 3) << 13) |
           (F[3] << 5) | (F[4] >> 3);
}
std::uint32_t PackMuxRate(const TBytes& File, std::size_t Pos)
{
    if (IsProgramPack(File, Pos))
        return (std::uint32_t(File[Pos + 10]) << 14) | (File[Pos + 11] << 6) | (File[Pos + 12] >> 2);
    return (((File[Pos + 9] & 0x7Fu) << 16) | (File[Pos + 10] << 8) | File[Pos + 11]) >> 1;
}

// An MPEG-2 PES header at Pos (ISO/IEC 13818-1, 2.4.3.7): '10' and flags.
bool IsProgramPES(const TBytes& File, std::size_t Pos)
{
    return Pos + 9 <= File.size() && (File[Pos + 6] & 0xC0) == 0x80;
}
// Where an MPEG-2 PES packet's payload starts, and the P-STD buffer size of
// its extension (0 without one).
std::pair<std::size_t, std::int64_t> ProgramPayload(const TBytes& File, std::size_t Pos)
{
    const std::uint8_t Flags = File[Pos + 7];
    std::size_t P = Pos + 9 + ((Flags & 0x80) ? 5 : 0) + ((Flags & 0x40) ? 5 : 0) + ((Flags & 0x20) ? 6 : 0) +
                    ((Flags & 0x10) ? 3 : 0) + ((Flags & 0x08) ? 1 : 0) + ((Flags & 0x04) ? 1 : 0) +
                    ((Flags & 0x02) ? 2 : 0);
    std::int64_t Size = 0;
    if ((Flags & 0x01) && P < File.size()) {
        const std::uint8_t Ext = File[P++];
        P += ((Ext & 0x80) ? 16 : 0);
        if ((Ext & 0x40) && P < File.size())
            P += 1 + File[P];
        P += (Ext & 0x20) ? 2 : 0;
        if ((Ext & 0x10) && P + 2 <= File.size())
            Size = (((File[P] & 0x1F) << 8) | File[P + 1]) * ((File[P] & 0x20) ? 1024 : 128);
    }
    return {Pos + 9 + File[Pos + 8], Size};
}

// PTS and DTS of the PES packet at Pos (of an audio or video stream), as
// ISO/IEC 11172-1 2.4.3.3 (or 13818-1 2.4.3.7) lays them out.
std::pair<std::optional<std::int64_t>, std::optional<std::int64_t>> PacketStamps(const TBytes& File,
                                                                                 std::size_t Pos)
{
    if (IsProgramPES(File, Pos)) {
        const std::uint8_t Flags = File[Pos + 7];
        if ((Flags & 0xC0) == 0xC0 && Pos + 19 <= File.size())
            return {Stamp(&File[Pos + 9]), Stamp(&File[Pos + 14])};
        if ((Flags & 0x80) && Pos + 14 <= File.size())
            return {Stamp(&File[Pos + 9]), std::nullopt};
        return {};
    }
    std::size_t P = Pos + 6;
    while (P < File.size() && File[P] == 0xFF)
        ++P;
    if (P < File.size() && (File[P] & 0xC0) == 0x40)
        P += 2;
    if (P + 10 <= File.size() && (File[P] >> 4) == 3)
        return {Stamp(&File[P]), Stamp(&File[P + 5])};
    if (P + 5 <= File.size() && (File[P] >> 4) == 2)
        return {Stamp(&File[P]), std::nullopt};
    return {};
}

} // namespace

TClockCheck CheckClock(const TBytes& File)
{
    TClockCheck Check;
    std::optional<std::int64_t> SCR;
    std::size_t PackStart = 0;
    std::uint32_t MuxRate = 0;
    for (std::size_t Pos : PacketOffsets(File)) {
        const std::uint8_t Code = File[Pos + 3];
        if (Code == 0xBA) {
            const std::int64_t Next = PackSCR(File, Pos);
            if (SCR) {
                if (Distance(*SCR, Next) <= 0)
                    ++Check.SCRNotIncreasing;
                Check.PackSizes.push_back(Pos - PackStart);
            }
            SCR = Next;
            PackStart = Pos;
            MuxRate = PackMuxRate(File, Pos);
            Check.MuxRates.insert(MuxRate);
            continue;
        }
        if ((Code < 0xC0 && Code != 0xBD) || Code > 0xEF || !SCR || MuxRate == 0)
            continue;
        const auto [PTS, DTS] = PacketStamps(File, Pos);
        if (!PTS)
            continue;
        ++Check.Stamped;
        const std::size_t End = Pos + 6 + ((File[Pos + 4] << 8) | File[Pos + 5]);
        const double Arrival = double(End - PackStart) * 90000 / (MuxRate * 50.0);
        const double Lateness = (Arrival - double(Distance(*SCR, DTS ? *DTS : *PTS))) / 90000;
        if (Lateness > 0) {
            ++Check.Late;
            Check.WorstLate = std::max(Check.WorstLate, Lateness);
        }
    }
    return Check;
}

namespace {

struct TModelStream
{
    bool Video = false;
    bool Lpcm = false; // no frames to find: each stamped packet starts a unit
    std::int64_t Size = 0;
    TBytes Data; // the stream's payload, in order
    struct TPacket
    {
        double Arrival;              // ticks, on the file's continuous line
        std::int64_t End;            // bytes of the stream up to the packet's end
        std::optional<double> Stamp; // decode time of the first unit starting in it
        std::int64_t Size;           // of the buffer, as declared when it arrives
    };
    std::vector<TPacket> Packets;
};

constexpr int AudioKbits[2][3][16] = {
    {{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448, 0},
     {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 0},
     {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0}},
    {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, 0},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0}}};

} // namespace

// Bytes and ticks of the MPEG audio frame whose header is at H; 0 bytes when
// H holds no header.
std::pair<std::int64_t, double> AudioFrame(const std::uint8_t* H)
{
    const int Version = (H[1] >> 3) & 3, LayerBits = (H[1] >> 1) & 3;
    const int RateIndex = (H[2] >> 2) & 3, BitIndex = H[2] >> 4;
    if (H[0] != 0xFF || (H[1] & 0xE0) != 0xE0 || Version == 1 || LayerBits == 0 || RateIndex == 3 ||
        BitIndex == 0 || BitIndex == 15)
        return {0, 0};
    const int Layer = 4 - LayerBits;
    static constexpr int Rates[] = {44100, 48000, 32000};
    const int Rate = Rates[RateIndex] >> (Version == 3 ? 0 : Version == 2 ? 1 : 2);
    const int Kbit = AudioKbits[Version == 3 ? 0 : 1][Layer - 1][BitIndex];
    const int Padding = (H[2] >> 1) & 1;
    const int Samples = Layer == 1 ? 384 : Layer == 3 && Version != 3 ? 576 : 1152;
    const std::int64_t Length =
        Layer == 1 ? (12 * Kbit * 1000 / Rate + Padding) * 4 : Samples / 8 * Kbit * 1000 / Rate + Padding;
    return {Length, Samples * 90000.0 / Rate};
}

// Bytes and ticks of the AC-3 sync frame at H (ATSC A/52, table 5.18).
std::pair<std::int64_t, double> AC3Frame(const std::uint8_t* H)
{
    static constexpr int Kbits[] = {32,  40,  48,  56,  64,  80,  96,  112, 128, 160,
                                    192, 224, 256, 320, 384, 448, 512, 576, 640};
    const int Rate = H[4] >> 6, Code = H[4] & 0x3F;
    if (Rate == 3 || Code >= 38)
        return {0, 0};
    const int Kbit = Kbits[Code / 2];
    const std::int64_t Words = Rate == 0   ? 2 * Kbit
                               : Rate == 2 ? 3 * Kbit
                                           : Kbit * 96000 / 44100 + (Code & 1);
    static constexpr int Hz[] = {48000, 44100, 32000};
    return {2 * Words, 1536 * 90000.0 / Hz[Rate]};
}

namespace {

// Bytes and ticks of the DTS core frame at H: FSIZE + 1 bytes of 32 x
// (NBLKS + 1) samples.
std::pair<std::int64_t, double> DTSFrame(const std::uint8_t* H)
{
    if (H[2] != 0x80 || H[3] != 0x01)
        return {0, 0};
    const int Blocks = ((H[4] & 1) << 6) | (H[5] >> 2);
    const std::int64_t Size = (((H[5] & 3) << 12) | (H[6] << 4) | (H[7] >> 4)) + 1;
    static constexpr int Hz[] = {0,     8000, 16000, 32000, 0,     0,     11025, 22050,
                                 44100, 0,    0,     12000, 24000, 48000, 0,     0};
    const int Rate = Hz[(H[8] >> 2) & 0x0F];
    return Rate ? std::pair<std::int64_t, double>{Size, 32.0 * (Blocks + 1) * 90000 / Rate}
                : std::pair<std::int64_t, double>{0, 0};
}

// One access unit: where it starts (its headers), where the byte that takes
// a packet's stamp stands (a picture start code, a frame header), its length
// in ticks (0 for video, whose frame comes from the sequence header) and in
// bytes (0 for video: up to the next unit). What stands between an audio
// frame and the next header (the rest of a frame cut off at a file's start)
// is no part of it and does not make it late.
struct TModelUnit
{
    std::int64_t Start, StampAt;
    double Ticks;
    std::int64_t Length;
};
std::vector<TModelUnit> Units(const TModelStream& S, double& FrameTicks)
{
    std::vector<TModelUnit> Result;
    const TBytes& D = S.Data;
    const std::int64_t N = static_cast<std::int64_t>(D.size());
    if (S.Video) {
        std::optional<std::int64_t> HeadersAt;
        for (std::int64_t I = 0; I + 4 <= N; ++I) {
            if (D[I] != 0 || D[I + 1] != 0 || D[I + 2] != 1)
                continue;
            const std::uint8_t Code = D[I + 3];
            if ((Code == 0xB3 || Code == 0xB8) && !HeadersAt)
                HeadersAt = I;
            if (Code == 0xB3 && FrameTicks == 0 && I + 8 <= N) {
                static constexpr double Rates[] = {25, 23.976, 24, 25, 29.97, 30, 50, 59.94, 60};
                const int Rate = D[I + 7] & 0x0F;
                FrameTicks = 90000 / Rates[Rate <= 8 ? Rate : 0];
            }
            if (Code == 0x00) {
                Result.push_back({HeadersAt.value_or(I), I, 0, 0});
                HeadersAt.reset();
            }
        }
        return Result;
    }
    if (S.Lpcm) {
        std::int64_t Start = 0;
        for (const TModelStream::TPacket& Packet : S.Packets) {
            if (Packet.Stamp && Packet.End > Start)
                Result.push_back({Start, Start, 0, 0});
            Start = Packet.End;
        }
        return Result;
    }
    for (std::int64_t I = 0; I + 4 <= N;) {
        const auto [Length, Ticks] = I + 8 <= N && D[I] == 0x0B && D[I + 1] == 0x77    ? AC3Frame(&D[I])
                                     : I + 11 <= N && D[I] == 0x7F && D[I + 1] == 0xFE ? DTSFrame(&D[I])
                                                                                       : AudioFrame(&D[I]);
        if (Length == 0) {
            ++I; // a lost header is searched again
            continue;
        }
        Result.push_back({I, I, Ticks, Length});
        I += Length;
    }
    return Result;
}

} // namespace

TDecoderModelCheck CheckDecoderModel(const TBytes& File)
{
    TDecoderModelCheck Check;
    std::map<std::uint8_t, TModelStream> Streams;
    std::map<std::uint8_t, std::int64_t> HeaderSizes;
    std::optional<std::int64_t> LastSCR;
    double SCR = 0;
    std::size_t PackStart = 0;
    std::uint32_t MuxRate = 0;
    auto Continuous = [&](std::int64_t Raw) { return SCR + double(Distance(*LastSCR, Raw)); };
    for (std::size_t Pos : PacketOffsets(File)) {
        const std::uint8_t Code = File[Pos + 3];
        const std::size_t Length = PacketLengthAt(File, Pos);
        if (Code == 0xBA) {
            const std::int64_t Raw = PackSCR(File, Pos);
            SCR = LastSCR ? Continuous(Raw) : double(Raw);
            LastSCR = Raw;
            PackStart = Pos;
            MuxRate = PackMuxRate(File, Pos);
            continue;
        }
        if (Code == 0xBB) {
            for (std::size_t P = Pos + 12; P + 3 <= Pos + Length; P += 3)
                HeaderSizes[File[P]] =
                    (((File[P + 1] & 0x1F) << 8) | File[P + 2]) * ((File[P + 1] & 0x20) ? 1024 : 128);
            continue;
        }
        if ((Code < 0xC0 && Code != 0xBD) || Code > 0xEF || !LastSCR || MuxRate == 0)
            continue;
        std::size_t P = Pos + 6;
        std::int64_t Declared = 0;
        std::uint8_t Id = Code;
        if (IsProgramPES(File, Pos)) {
            std::tie(P, Declared) = ProgramPayload(File, Pos);
            // A DVD's private stream 1: the sound of a sub-stream, after its
            // header (AC-3 and DTS 4 bytes, LPCM 7); subpictures are not modelled.
            if (Code == 0xBD) {
                if (P >= Pos + Length || File[P] < 0x80 || File[P] > 0xA7)
                    continue;
                Id = File[P];
                P += Id >= 0xA0 ? 7 : 4;
            }
        } else {
            while (P < Pos + Length && File[P] == 0xFF)
                ++P;
            if (P + 2 <= Pos + Length && (File[P] & 0xC0) == 0x40) {
                Declared = (((File[P] & 0x1F) << 8) | File[P + 1]) * ((File[P] & 0x20) ? 1024 : 128);
                P += 2;
            }
            P += (File[P] >> 4) == 3 ? 10 : (File[P] >> 4) == 2 ? 5 : 1;
        }
        TModelStream& S = Streams[Id];
        S.Video = Code >= 0xE0;
        S.Lpcm = Id >= 0xA0 && Id <= 0xA7;
        if (Declared)
            S.Size = Declared;
        const auto [PTS, DTS] = PacketStamps(File, Pos);
        const std::uint8_t Bound = HeaderSizes.count(Code) ? Code : Code >= 0xE0 ? 0xB9 : 0xB8;
        if (S.Size == 0 && HeaderSizes.count(Bound))
            S.Size = HeaderSizes[Bound];
        if (P > Pos + Length)
            continue;
        S.Data.insert(S.Data.end(), File.begin() + static_cast<std::ptrdiff_t>(P),
                      File.begin() + static_cast<std::ptrdiff_t>(Pos + Length));
        const double Arrival = SCR + double(Pos + Length - PackStart) * 90000 / (MuxRate * 50.0);
        std::optional<double> Decode;
        if (DTS || PTS)
            Decode = Continuous(DTS ? *DTS : *PTS);
        S.Packets.push_back({Arrival, static_cast<std::int64_t>(S.Data.size()), Decode, S.Size});
    }
    for (auto& [Id, S] : Streams) {
        double FrameTicks = 0;
        const auto Found = Units(S, FrameTicks);
        Check.Size[Id] = S.Size;
        std::int64_t& Peak = Check.Peak[Id];
        // Each unit's decode time, and the packet its last byte arrives in.
        std::vector<double> Decode(Found.size());
        std::size_t K = 0;
        std::optional<std::size_t> StampedPacket;
        for (std::size_t J = 0; J < Found.size(); ++J) {
            while (S.Packets[K].End <= Found[J].StampAt)
                ++K;
            const bool Stamped = S.Packets[K].Stamp && StampedPacket != K;
            if (Stamped)
                StampedPacket = K;
            Decode[J] = Stamped ? *S.Packets[K].Stamp
                        : J     ? Decode[J - 1] + (S.Video ? FrameTicks : Found[J - 1].Ticks)
                                : S.Packets[K].Arrival;
        }
        K = 0;
        for (std::size_t J = 0; J < Found.size(); ++J) {
            std::int64_t End = J + 1 < Found.size() ? Found[J + 1].Start : S.Packets.back().End;
            if (Found[J].Length)
                End = std::min(End, Found[J].Start + Found[J].Length);
            while (S.Packets[K].End < End)
                ++K;
            ++Check.Units;
            const double Late = (S.Packets[K].Arrival - Decode[J]) / 90000;
            if (Late > 0) {
                if (!Check.Late)
                    Check.FirstLate = Decode[J] / 90000;
                ++Check.Late;
                Check.WorstLate = std::max(Check.WorstLate, Late);
            }
        }
        // After each packet the buffer holds what arrived, less the units
        // decoded by then.
        std::size_t Decoded = 0;
        for (const TModelStream::TPacket& Packet : S.Packets) {
            while (Decoded < Found.size() && Decode[Decoded] <= Packet.Arrival)
                ++Decoded;
            const std::int64_t Removed = Decoded == 0             ? 0
                                         : Decoded < Found.size() ? Found[Decoded].Start
                                                                  : S.Packets.back().End;
            Peak = std::max(Peak, Packet.End - Removed);
            if (Packet.Size && Packet.End - Removed > Packet.Size && !Check.Overflows++)
                Check.FirstOverflow = Packet.Arrival / 90000;
        }
    }
    return Check;
}

std::string TDecoderModelCheck::Text() const
{
    std::string Text = std::to_string(Late) + " of " + std::to_string(Units) + " units late (worst " +
                       std::to_string(WorstLate) + " s), " + std::to_string(Overflows) + " overflows" +
                       (Overflows ? " (first at " + std::to_string(FirstOverflow) + " s)" : "") +
                       (Late ? " (first late unit decodes at " + std::to_string(FirstLate) + " s)" : "") +
                       ";";
    for (const auto& [Id, Bytes] : Peak)
        Text += " " + std::to_string(Id) + ": " + std::to_string(Bytes) + "/" + std::to_string(Size.at(Id));
    return Text;
}

TNavigationCheck CheckNavigation(const TBytes& File)
{
    TNavigationCheck Check;
    const auto Word = [&](std::size_t At) {
        return (std::uint32_t(File[At]) << 24) | (File[At + 1] << 16) | (File[At + 2] << 8) | File[At + 3];
    };
    // BCD hh mm ss ff, the frame byte's top bits the rate.
    const auto Elapsed = [&](std::size_t At) {
        const auto Bcd = [&](std::uint8_t B) { return (B >> 4) * 10 + (B & 15); };
        const double Rate = (File[At + 3] >> 6) == 1 ? 25 : 30;
        return Bcd(File[At]) * 3600 + Bcd(File[At + 1]) * 60 + Bcd(File[At + 2]) +
               Bcd(File[At + 3] & 0x3F) / Rate;
    };
    std::optional<std::uint32_t> Start, End;
    std::optional<std::int64_t> Earliest;
    double LastElapsed = 0;
    std::int64_t PackSCRLow = 0;
    std::size_t PackAt = 0;
    const auto CloseVobu = [&](std::size_t At) {
        if (Start && Earliest && std::uint32_t(*Earliest) != *Start)
            Check.Faults += "VOBU before " + std::to_string(At) + " starts at " + std::to_string(*Start) +
                            ", its video at " + std::to_string(std::uint32_t(*Earliest)) + "\n";
        if (Start && End && *End <= *Start)
            Check.Faults += "VOBU before " + std::to_string(At) + " ends before it starts\n";
        Start.reset(), End.reset(), Earliest.reset();
    };
    for (std::size_t Pos : PacketOffsets(File)) {
        const std::uint8_t Code = File[Pos + 3];
        if (Code == 0xBA)
            PackSCRLow = PackSCR(File, Pos) & 0xFFFFFFFF, PackAt = Pos;
        if (Code == 0xE0)
            if (const auto PTS = PacketStamps(File, Pos).first)
                Earliest = std::min(Earliest.value_or(*PTS), *PTS);
        if (Code != 0xBF || Pos + 6 + 33 > File.size())
            continue;
        const std::size_t P = Pos + 6;
        if (File[P] == 0) {
            CloseVobu(Pos);
            if (Word(P + 13) == 0)
                continue;
            ++Check.Count;
            Start = Word(P + 13), End = Word(P + 17);
        } else if (File[P] == 1 && Word(P + 29) != 0) {
            if (Word(P + 1) != PackSCRLow)
                Check.Faults += "navigation pack at " + std::to_string(Pos) + " gives SCR " +
                                std::to_string(Word(P + 1)) + ", its pack " + std::to_string(PackSCRLow) +
                                "\n";
            // An authored pack (its VOBU's end address filled in) gives its own sector.
            if (Word(P + 9) && Word(P + 5) != PackAt / 2048)
                Check.Faults += "navigation pack at sector " + std::to_string(PackAt / 2048) + " gives " +
                                std::to_string(Word(P + 5)) + "\n";
            if (Elapsed(P + 29) + 1e-9 < LastElapsed)
                Check.Faults += "cell time goes back at " + std::to_string(Pos) + "\n";
            LastElapsed = Elapsed(P + 29);
        }
    }
    CloseVobu(File.size());
    return Check;
}

std::vector<std::int64_t> StampsOf(const TBytes& File, std::uint8_t StreamId, bool Decode)
{
    std::vector<std::int64_t> Stamps;
    for (std::size_t Pos : PacketOffsets(File)) {
        if (File[Pos + 3] != StreamId)
            continue;
        const auto [PTS, DTS] = PacketStamps(File, Pos);
        if (Decode && (DTS || PTS))
            Stamps.push_back(DTS ? *DTS : *PTS);
        else if (!Decode && PTS)
            Stamps.push_back(*PTS);
    }
    return Stamps;
}

namespace {

// The packets of one pack (or those before a file's first pack header).
struct TPackBytes
{
    std::vector<TBytes> Packets;
    std::size_t Offset = 0; // of the first packet, in its file
};

std::vector<TPackBytes> SplitPacks(const TBytes& File)
{
    std::vector<TPackBytes> Packs;
    for (std::size_t Offset : PacketOffsets(File)) {
        const std::size_t Length = PacketLengthAt(File, Offset);
        if (File[Offset + 3] == 0xBA || Packs.empty())
            Packs.push_back({{}, Offset});
        Packs.back().Packets.emplace_back(File.begin() + static_cast<std::ptrdiff_t>(Offset),
                                          File.begin() + static_cast<std::ptrdiff_t>(Offset + Length));
    }
    return Packs;
}

bool Droppable(const TPackBytes& Pack)
{
    return std::all_of(Pack.Packets.begin(), Pack.Packets.end(),
                       [](const TBytes& P) { return P[3] == 0xBA || P[3] == 0xBB || P[3] == 0xBE; });
}

// Where a PES packet's payload starts: after its MPEG-2 header, or MPEG-1's
// stuffing, STD field and stamps.
std::size_t PayloadStart(const TBytes& P)
{
    if (P[3] == 0xBE || P[3] == 0xBF || P[3] == 0xBC || P[3] == 0xFF)
        return 6;
    if (P.size() >= 9 && (P[6] & 0xC0) == 0x80)
        return std::min<std::size_t>(P.size(), 9 + P[8]);
    std::size_t At = 6;
    while (At < P.size() && P[At] == 0xFF)
        ++At;
    if (At < P.size() && (P[At] & 0xC0) == 0x40)
        At += 2;
    if (At < P.size())
        At += (P[At] >> 4) == 3 ? 10 : (P[At] >> 4) == 2 ? 5 : 1;
    return std::min(At, P.size());
}

// The video payload of a join's output against its input: equal but for
// the broken link flag of a group header and sequence end codes blanked to
// zeros (00 00 01 B7 becomes 00 00 00 00).
bool SameVideo(const TBytes& In, const TBytes& Out, std::size_t From)
{
    const auto CodeAt = [&](std::size_t At, std::uint8_t Code) {
        return At + 4 <= In.size() && In[At] == 0 && In[At + 1] == 0 && In[At + 2] == 1 && In[At + 3] == Code;
    };
    for (std::size_t I = From; I < In.size(); ++I) {
        if (In[I] == Out[I])
            continue;
        const bool EndCode =
            Out[I] == 0 && ((I >= 2 && CodeAt(I - 2, 0xB7)) || (I >= 3 && CodeAt(I - 3, 0xB7)));
        const bool BrokenLink = I >= 7 && CodeAt(I - 7, 0xB8) && (In[I] ^ Out[I]) == 0x20;
        if (!EndCode && !BrokenLink)
            return false;
    }
    return true;
}

// Why Out is no join of In ("" when it is one).
std::string PacketDiffers(const TBytes& In, const TBytes& Out)
{
    if (In.size() != Out.size())
        return "length " + std::to_string(Out.size()) + " instead of " + std::to_string(In.size());
    const std::uint8_t Code = In[3];
    if (Code == 0xBA)
        // The clock and the rate may move; an MPEG-2 pack's stuffing stays.
        return std::equal(In.begin(), In.begin() + 4, Out.begin()) &&
                       (In.size() <= 13 || std::equal(In.begin() + 13, In.end(), Out.begin() + 13))
                   ? ""
                   : "another pack header";
    if (Code == 0xBB)
        return Out[3] == 0xBB || Out[3] == 0xBE ? "" : "a system header turned into another packet";
    if (Out[3] != Code)
        return "stream " + std::to_string(Out[3]) + " instead of " + std::to_string(Code);
    const std::size_t From = PayloadStart(In);
    if (From != PayloadStart(Out))
        return "another PES header layout";
    if (Code == 0xBF)
        return "";
    if (Code >= 0xE0 && Code <= 0xEF)
        return SameVideo(In, Out, From) ? "" : "other video bytes";
    return std::equal(In.begin() + static_cast<std::ptrdiff_t>(From), In.end(),
                      Out.begin() + static_cast<std::ptrdiff_t>(From))
               ? ""
               : "other payload bytes";
}

} // namespace

TPacketsKept CheckPacketsKept(const std::vector<TBytes>& Inputs, const TBytes& Output)
{
    TPacketsKept Check;
    struct TInputPack
    {
        std::size_t File;
        TPackBytes Pack;
    };
    std::vector<TInputPack> In;
    for (std::size_t F = 0; F < Inputs.size(); ++F)
        for (TPackBytes& Pack : SplitPacks(Inputs[F]))
            In.push_back({F, std::move(Pack)});
    const std::vector<TPackBytes> Out = SplitPacks(Output);
    std::map<std::size_t, std::set<std::int64_t>> Shifts; // by file
    std::size_t I = 0;
    const auto Where = [&](std::size_t O) {
        return " (output pack at " + std::to_string(Out[O].Offset) + ", file " +
               std::to_string(In[I].File + 1) + "'s at " + std::to_string(In[I].Pack.Offset) + ")";
    };
    const auto Differs = [](const TPackBytes& A, const TPackBytes& B) -> std::string {
        if (A.Packets.size() != B.Packets.size())
            return std::to_string(B.Packets.size()) + " packets instead of " +
                   std::to_string(A.Packets.size());
        for (std::size_t K = 0; K < A.Packets.size(); ++K)
            if (const std::string Why = PacketDiffers(A.Packets[K], B.Packets[K]); !Why.empty())
                return "packet " + std::to_string(K + 1) + ": " + Why;
        return "";
    };
    for (std::size_t O = 0; O < Out.size(); ++O, ++I) {
        // A pack of padding the join left out.
        while (I < In.size() && Droppable(In[I].Pack) && !Differs(In[I].Pack, Out[O]).empty()) {
            ++Check.DroppedPacks;
            ++I;
        }
        if (I == In.size()) {
            Check.Faults = "a pack no input holds at " + std::to_string(Out[O].Offset);
            return Check;
        }
        const TPackBytes& A = In[I].Pack;
        if (const std::string Why = Differs(A, Out[O]); !Why.empty()) {
            Check.Faults = Why + Where(O);
            return Check;
        }
        Check.Packets += static_cast<int>(A.Packets.size());
        // Every stamp of a file moves by the one offset of its file.
        for (std::size_t K = 0; K < A.Packets.size(); ++K) {
            const TBytes& P = A.Packets[K];
            if (P[3] < 0xBD || P[3] == 0xBE || P[3] == 0xBF)
                continue;
            const auto [InPTS, InDTS] = PacketStamps(P, 0);
            const auto [OutPTS, OutDTS] = PacketStamps(Out[O].Packets[K], 0);
            if (InPTS && OutPTS)
                Shifts[In[I].File].insert(Distance(*InPTS, *OutPTS));
            if (InDTS && OutDTS)
                Shifts[In[I].File].insert(Distance(*InDTS, *OutDTS));
        }
        if (Shifts[In[I].File].size() > 1) {
            Check.Faults = "file " + std::to_string(In[I].File + 1) + "'s stamps move by more than one offset" +
                           Where(O);
            return Check;
        }
    }
    for (; I < In.size(); ++I) {
        if (!Droppable(In[I].Pack)) {
            Check.Faults = "file " + std::to_string(In[I].File + 1) + "'s pack at " +
                           std::to_string(In[I].Pack.Offset) + " is missing from the output's end";
            return Check;
        }
        ++Check.DroppedPacks;
    }
    return Check;
}

} // namespace vantrel::test
