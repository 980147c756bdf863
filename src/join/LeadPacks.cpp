#include "join/LeadPacks.h"

#include "join/ProgramStreamPass.h"
#include "mpeg/StartCodes.h"
#include "mpeg/ps/PackSyntax.h"
#include "mpeg/ps/SubStreams.h"

#include <algorithm>

namespace vantrel {

TLeadPacks ReadLeadPacks(TProgramStreamReader& Reader, TFileLine Line, std::int64_t FrameTicks, bool Keeps)
{
    constexpr std::int64_t LeadBytes = TProgramStreamPass::LeadBytes;
    constexpr std::size_t LeadPacks = TProgramStreamPass::LeadPacks;
    std::vector<TLeadPack> Packs;
    std::map<std::uint8_t, TUnitSplitter> Splitters;
    std::map<std::uint8_t, std::uint32_t> Sizes;
    std::map<std::uint8_t, std::uint32_t> HeaderSizes;
    std::vector<std::uint8_t> Payload, Headers;
    std::int64_t PackPosition = 0;
    // Whole packs only: the look ahead ends at a pack header, and a pack it
    // could not see to its end (one that runs on past twice its length, or
    // into junk that long) has no place in the plan, which would leave out
    // what it did not see.
    bool LastWhole = true, ToEnd = false;
    for (TLookAhead Ahead(Reader, 2 * LeadBytes);;) {
        if (!Reader.NextPacket()) {
            LastWhole = ToEnd = !Ahead.Stopped;
            break;
        }
        const std::int64_t Read = Reader.PacketPosition() - Ahead.From;
        if (Reader.PacketKind() == pkPackHeader) {
            if (!Packs.empty())
                Packs.back().Length = Reader.PacketPosition() - PackPosition;
            if (Packs.size() == LeadPacks || Read >= LeadBytes)
                break;
            PackPosition = Reader.PacketPosition();
            Packs.push_back(
                {PackPosition, Line.Stamp(Reader.SCR()), Reader.MuxRate(), Reader.PacketLength(), true, {}});
            continue;
        }
        if (Read >= 2 * LeadBytes) {
            LastWhole = false;
            break;
        }
        if (Packs.empty())
            continue;
        TLeadPack& Pack = Packs.back();
        Pack.Length = Reader.PacketEnd() - PackPosition;
        const TPESInfo& PES = Reader.PES();
        if (Reader.PacketKind() == pkSystemHeader) {
            Pack.PaddingOnly &= !Keeps;
            Headers.resize(Reader.PacketLength());
            Reader.ReadPacket(Headers.data());
            for (std::uint8_t Id = PrivateStream1; Id != 0 && Id <= LastVideoStream; ++Id)
                if (const std::uint32_t Bound = SystemHeaderBufferBound(Headers.data(), Headers.size(), Id))
                    HeaderSizes[Id] = Bound;
            continue;
        }
        Pack.PaddingOnly &= PES.StreamId == PaddingStream;
        if (!(IsAudioStream(PES.StreamId) || IsVideoStream(PES.StreamId) || PES.StreamId == PrivateStream1) ||
            !Reader.PESHeaderFits())
            continue;
        Payload.resize(PES.PayloadLength);
        Reader.ReadPayload(Payload.data());
        const std::optional<TModelPayload> Model = ModelPayload(PES.StreamId, Payload.data(), Payload.size());
        if (!Model)
            continue;
        std::optional<std::int64_t> Decode;
        if (PES.HasDTS || PES.HasPTS)
            Decode = Line.Stamp(PES.HasDTS ? PES.DTS : PES.PTS);
        auto Splitter = Splitters.try_emplace(Model->Stream, Model->Stream, FrameTicks).first;
        Splitter->second.Add(Model->Data, Model->Length, Decode);
        if (PES.STDBufferSize && !Sizes.count(Model->Stream))
            Sizes[Model->Stream] = PES.STDBufferSize;
        Pack.Packets.push_back(
            {Model->Stream, Reader.PacketEnd() - PackPosition, static_cast<std::int64_t>(Model->Length)});
    }
    if (!LastWhole && !Packs.empty())
        Packs.pop_back();

    std::map<std::uint8_t, std::vector<TAccessUnit>> Units;
    for (const auto& [Id, Splitter] : Splitters) {
        Units[Id] = Splitter.Units();
        // A stream without an STD field of its own has its system header's
        // bound; private stream 1's sub-streams share its.
        const std::uint8_t HeaderId = IsAudioStream(Id) || IsVideoStream(Id) ? Id : PrivateStream1;
        if (!Sizes.count(Id) && HeaderSizes.count(HeaderId))
            Sizes[Id] = HeaderSizes[HeaderId];
    }
    // A constant-rate disc: every pack one sector (the last one read ahead
    // may end early, where the look ahead stopped): a VCD's or SVCD's, or a
    // DVD's, whose rate a player's drive fixes too.
    const bool Program = Reader.ProgramStream();
    const bool FixedRate =
        Packs.size() > 1 && std::all_of(Packs.begin(), Packs.end() - 1, [Program](const TLeadPack& Pack) {
            return Pack.Length == TProgramStreamPass::VcdSectorPayload ||
                   (Program && Pack.Length == TProgramStreamPass::DvdSectorSize);
        });
    return {std::move(Packs), std::move(Units), std::move(Sizes), ToEnd, FixedRate};
}

} // namespace vantrel
