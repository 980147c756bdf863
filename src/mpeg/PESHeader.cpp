#include "mpeg/PESHeader.h"

#include "mpeg/StartCodes.h"
#include "mpeg/TimeStamps.h"

namespace vantrel {

namespace {

bool HasMPEG2Header(std::span<const std::uint8_t> Bytes)
{
    return !HasNoPESHeader(Bytes[3]) && (Bytes[PacketPrefixLength] & 0xC0) == 0x80;
}

} // namespace

std::uint32_t PESHeaderLength(std::span<const std::uint8_t> Bytes)
{
    if (Bytes.size() < PacketPrefixLength + 1)
        return Bytes.size() >= PacketPrefixLength && HasNoPESHeader(Bytes[3]) ? PacketPrefixLength : 0;
    if (!HasMPEG2Header(Bytes))
        return PacketPrefixLength;
    return Bytes.size() < PESHeaderFixedLength ? 0 : PESHeaderFixedLength + Bytes[8];
}

bool DecodePESHeader(std::span<const std::uint8_t> Bytes, std::int64_t Position, TPESInfo& PES)
{
    PES = TPESInfo{};
    if (Bytes.size() < PacketPrefixLength || Bytes[0] != 0 || Bytes[1] != 0 || Bytes[2] != 1)
        return false;
    PES.StreamId = Bytes[3];
    const std::uint32_t LengthField = (Bytes[4] << 8) | Bytes[5];
    PES.Unbounded = LengthField == 0;
    const std::uint32_t End = PacketPrefixLength + LengthField;
    const auto PayloadFrom = [&](std::uint32_t At) {
        PES.PayloadPosition = Position + At;
        PES.PayloadLength = PES.Unbounded ? 0 : static_cast<std::uint16_t>(End - At);
        return true;
    };
    const std::uint32_t Length = PESHeaderLength(Bytes);
    if (Length == 0 || Bytes.size() < Length)
        return false;
    if (Length == PacketPrefixLength)
        return PayloadFrom(PacketPrefixLength);

    // '10', scrambling, priority, alignment, copyright, original; then
    // PTS_DTS_flags (2), ESCR, ES rate, trick mode, additional copy info,
    // CRC and extension flags; then the header's length.
    const std::uint8_t Flags = Bytes[7];
    const std::span<const std::uint8_t> H = Bytes.first(Length);
    std::uint32_t At = PESHeaderFixedLength;
    const auto Stamp = [&](bool& Has, std::int64_t& Value, std::int64_t& At64) {
        if (At + TimeStampLength > Length)
            return;
        Has = true;
        Value = DecodeTimeStamp(&H[At]);
        At64 = Position + At;
        At += TimeStampLength;
    };
    if ((Flags & 0x80) != 0) {
        Stamp(PES.HasPTS, PES.PTS, PES.PTSPosition);
        if ((Flags & 0x40) != 0)
            Stamp(PES.HasDTS, PES.DTS, PES.DTSPosition);
        // Half a pair is no pair.
        if (!PES.HasPTS || ((Flags & 0x40) != 0 && !PES.HasDTS)) {
            PES.HasPTS = PES.HasDTS = false;
            PES.PTSPosition = PES.DTSPosition = 0;
        }
    }
    if ((Flags & 0x20) != 0) {
        if (At + 6 <= Length)
            PES.ESCRPosition = Position + At;
        At += 6;
    }
    // ES rate (3), DSM trick mode (1), additional copy info (1), previous CRC (2).
    At += ((Flags & 0x10) ? 3 : 0) + ((Flags & 0x08) ? 1 : 0) + ((Flags & 0x04) ? 1 : 0) +
          ((Flags & 0x02) ? 2 : 0);
    // The extension: its flags, private data (16), the pack header field
    // (its length and bytes), the sequence counter (2), then the P-STD
    // buffer: '01', scale, 13-bit size.
    if ((Flags & 0x01) != 0 && At < Length) {
        const std::uint8_t Extension = H[At];
        At += 1 + ((Extension & 0x80) ? 16 : 0);
        if ((Extension & 0x40) != 0)
            At = At < Length ? At + 1 + H[At] : Length;
        At += (Extension & 0x20) ? 2 : 0;
        if ((Extension & 0x10) != 0 && At + 2 <= Length) {
            PES.HasSTD = true;
            PES.STDBufferSize = (((H[At] & 0x1Fu) << 8) | H[At + 1]) * ((H[At] & 0x20) ? 1024u : 128u);
        }
    }
    return PayloadFrom(Length);
}

} // namespace vantrel
