#include "TransportSupport.h"

#include <stdexcept>

namespace vantrel::test {

std::optional<TTSLayout> FindLayout(const TBytes& File)
{
    constexpr int Run = 5;
    for (std::size_t At = 0; At < File.size() && At < 65536; ++At) {
        if (File[At] != 0x47)
            continue;
        for (const std::size_t Size : {188, 192, 204}) {
            int N = 0;
            while (N < Run && At + N * Size < File.size() && File[At + N * Size] == 0x47)
                ++N;
            // A file of fewer packets has them all.
            if (N == Run || (N >= 2 && At + N * Size >= File.size()))
                return TTSLayout{Size, At};
        }
    }
    return std::nullopt;
}

bool ReadTSPacket(const TBytes& File, std::size_t Sync, TTSPacket& P)
{
    const std::uint8_t* H = &File[Sync];
    P = TTSPacket{};
    P.Sync = Sync;
    P.TransportError = H[1] & 0x80;
    P.UnitStart = H[1] & 0x40;
    P.PID = static_cast<std::uint16_t>(((H[1] & 0x1F) << 8) | H[2]);
    P.Scrambling = H[3] >> 6;
    P.HasAdaptation = H[3] & 0x20;
    P.HasPayload = H[3] & 0x10;
    P.Counter = H[3] & 0x0F;
    std::size_t Start = 4;
    if (P.HasAdaptation) {
        const std::size_t Length = H[4];
        if (Length > 183)
            return false;
        if (Length > 0) {
            P.Discontinuity = H[5] & 0x80;
            P.RandomAccess = H[5] & 0x40;
            if ((H[5] & 0x10) && Length >= 7) {
                const std::uint8_t* F = H + 6;
                const std::int64_t Base =
                    (std::int64_t(F[0]) << 25) | (F[1] << 17) | (F[2] << 9) | (F[3] << 1) | (F[4] >> 7);
                P.PCR = Base * 300 + (((F[4] & 1) << 8) | F[5]);
                P.PCRByte = Sync + 10;
            }
        }
        Start = 5 + Length;
    }
    if (P.HasPayload) {
        P.Payload = Sync + Start;
        P.PayloadLength = 188 - Start;
    }
    return true;
}

std::uint32_t SectionCrc(const std::uint8_t* Data, std::size_t Size)
{
    std::uint32_t Crc = 0xFFFFFFFF;
    for (std::size_t I = 0; I < Size; ++I)
        for (int Bit = 7; Bit >= 0; --Bit) {
            const bool In = ((Data[I] >> Bit) & 1) != (Crc >> 31);
            Crc = (Crc << 1) ^ (In ? 0x04C11DB7u : 0);
        }
    return Crc;
}

TBytes Section(std::uint8_t TableId, std::uint16_t Extension, std::uint8_t Version, const TBytes& Body)
{
    const std::size_t Length = 5 + Body.size() + 4;
    TBytes S = {TableId,
                static_cast<std::uint8_t>(0xB0 | (Length >> 8)),
                static_cast<std::uint8_t>(Length),
                static_cast<std::uint8_t>(Extension >> 8),
                static_cast<std::uint8_t>(Extension),
                static_cast<std::uint8_t>(0xC1 | (Version << 1)),
                0,
                0};
    S.insert(S.end(), Body.begin(), Body.end());
    const std::uint32_t Crc = SectionCrc(S.data(), S.size());
    for (int Shift = 24; Shift >= 0; Shift -= 8)
        S.push_back(static_cast<std::uint8_t>(Crc >> Shift));
    return S;
}

TBytes PMTBody(std::uint16_t PCRPID, const std::vector<TPMTEntry>& Streams)
{
    TBytes Body = {static_cast<std::uint8_t>(0xE0 | (PCRPID >> 8)), static_cast<std::uint8_t>(PCRPID), 0xF0,
                   0};
    for (const TPMTEntry& Stream : Streams) {
        const TBytes Entry = {Stream.Type, static_cast<std::uint8_t>(0xE0 | (Stream.PID >> 8)),
                              static_cast<std::uint8_t>(Stream.PID),
                              static_cast<std::uint8_t>(0xF0 | (Stream.Descriptors.size() >> 8)),
                              static_cast<std::uint8_t>(Stream.Descriptors.size())};
        Body = Concat({Body, Entry, Stream.Descriptors});
    }
    return Body;
}

TBytes TSPacket(const TPacketFields& Fields)
{
    if (Fields.Payload.size() + (Fields.Adaptation.empty() ? 0 : 1 + Fields.Adaptation.size()) > 184)
        throw std::runtime_error("a transport packet holds 184 bytes after its header");
    const bool Adaptation = !Fields.Adaptation.empty() || Fields.Payload.size() < 184;
    const std::uint8_t Control =
        static_cast<std::uint8_t>((Adaptation ? 0x20 : 0) | (Fields.Payload.empty() ? 0 : 0x10));
    TBytes P = {0x47, static_cast<std::uint8_t>((Fields.UnitStart ? 0x40 : 0) | (Fields.PID >> 8)),
                static_cast<std::uint8_t>(Fields.PID),
                static_cast<std::uint8_t>((Fields.Scrambling << 6) | Control | (Fields.Counter & 0x0F))};
    if (Adaptation) {
        const std::size_t Length = 183 - Fields.Payload.size();
        P.push_back(static_cast<std::uint8_t>(Length));
        TBytes Field = Fields.Adaptation;
        if (Length > 0 && Field.empty())
            Field.push_back(0);
        Field.resize(Length, 0xFF);
        P.insert(P.end(), Field.begin(), Field.end());
    }
    P.insert(P.end(), Fields.Payload.begin(), Fields.Payload.end());
    return P;
}

TBytes PCRAdaptation(std::int64_t Base, std::uint16_t Extension, std::uint8_t OtherFlags)
{
    return {static_cast<std::uint8_t>(0x10 | OtherFlags),
            static_cast<std::uint8_t>(Base >> 25),
            static_cast<std::uint8_t>(Base >> 17),
            static_cast<std::uint8_t>(Base >> 9),
            static_cast<std::uint8_t>(Base >> 1),
            static_cast<std::uint8_t>(((Base & 1) << 7) | 0x7E | (Extension >> 8)),
            static_cast<std::uint8_t>(Extension)};
}

std::vector<TBytes> PayloadPackets(std::uint16_t PID, const TBytes& Data, std::uint8_t& Counter,
                                   bool PointerField)
{
    const TBytes All = PointerField ? Concat({{0}, Data}) : Data;
    std::vector<TBytes> Packets;
    for (std::size_t At = 0; At < All.size(); At += 184) {
        const std::size_t N = std::min<std::size_t>(184, All.size() - At);
        TPacketFields Fields{PID, At == 0, Counter++, {}, TBytes(All.begin() + At, All.begin() + At + N)};
        // A section's packet is filled with 0xFF after it, a PES packet's
        // with stuffing in the adaptation field.
        if (PointerField)
            Fields.Payload.resize(184, 0xFF);
        Packets.push_back(TSPacket(Fields));
    }
    return Packets;
}

std::vector<TBytes> TSPackets(const TBytes& File)
{
    std::vector<TBytes> Packets;
    const std::optional<TTSLayout> Layout = FindLayout(File);
    if (!Layout)
        return Packets;
    const std::size_t Lead = Layout->Size == 192 ? 4 : 0;
    for (std::size_t At = Layout->FirstSync - std::min(Layout->FirstSync, Lead);
         At + Layout->Size <= File.size(); At += Layout->Size)
        Packets.emplace_back(File.begin() + At, File.begin() + At + Layout->Size);
    return Packets;
}

} // namespace vantrel::test
