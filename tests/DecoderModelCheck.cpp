#include "DecoderModelCheck.h"

#include "StreamBytes.h"

#include <algorithm>
#include <cmath>
#include <optional>

namespace vantrel::test {

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
    auto Continuous = [&](std::int64_t Raw) { return SCR + double(StampDistance(*LastSCR, Raw)); };
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

} // namespace vantrel::test
