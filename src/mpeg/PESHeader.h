// The header of an MPEG-2 PES packet (ISO/IEC 13818-1, 2.4.3.6), as program
// streams and transport streams both carry it: the stream id, the length, and
// after the flags the stamps, the ESCR and the P-STD buffer of the extension,
// each with where it stands so that a writer can patch it there.
#pragma once

#include <cstdint>
#include <span>

namespace vantrel {

// The decoded header of one PES packet; zeroed before every parse, so what a
// packet lacks reads 0 or false.
struct TPESInfo
{
    std::uint8_t StreamId = 0;
    // 0 for private stream 2 (0xBF) of an MPEG-1 stream; in a program
    // stream, the bytes after the length of a packet without a PES header
    // (padding, private stream 2, the stream map and directory).
    std::int64_t PayloadPosition = 0;
    std::uint16_t PayloadLength = 0;
    bool HasPTS = false;
    std::int64_t PTS = 0;
    bool HasDTS = false;
    std::int64_t DTS = 0;
    bool HasSTD = false;
    std::uint32_t STDBufferSize = 0; // bytes, from the STD field
    // Where the 5-byte PTS and DTS fields stand in the file; 0 when absent.
    std::int64_t PTSPosition = 0;
    std::int64_t DTSPosition = 0;
    // MPEG-2 only: where the 6-byte ESCR field stands; 0 when absent.
    std::int64_t ESCRPosition = 0;
    // A length field of 0: a video packet of a transport stream that runs
    // to the next packet's start (PayloadLength is then 0).
    bool Unbounded = false;
};

// The bytes an MPEG-2 PES header can take: the prefix, id and length (6),
// the flags and the header length (3), and at most 255 header bytes.
constexpr std::uint32_t MaxPESHeaderLength = 6 + 3 + 255;
// The fixed part that says how long the rest is.
constexpr std::uint32_t PESHeaderFixedLength = 9;

// True for the stream ids whose packets have no header after their length
// (ISO/IEC 13818-1, table 2-21): the program stream map and directory,
// padding, private stream 2, ECM, EMM, DSM-CC and H.222.1 type E.
constexpr bool HasNoPESHeader(std::uint8_t StreamId)
{
    return StreamId == 0xBC || StreamId == 0xBE || StreamId == 0xBF || StreamId == 0xF0 || StreamId == 0xF1 ||
           StreamId == 0xF2 || StreamId == 0xF8 || StreamId == 0xFF;
}

// The header of the PES packet that Bytes starts with (00 00 01, id, length,
// then '10' and the flags), its positions counted from Position, where
// Bytes[0] stands. A packet of an id without a header, or whose header does
// not start with '10' (none of MPEG-2's), has its payload right after the
// length. Stamps and fields the flags announce past the header's own length
// are not believed. PayloadLength is what the length field leaves after the
// header, modulo 65536 when the header runs past it. False when Bytes does not
// start with a packet start code prefix or ends before the header does.
bool DecodePESHeader(std::span<const std::uint8_t> Bytes, std::int64_t Position, TPESInfo& PES);

// The bytes of Bytes' header up to its payload, as the header says, when
// Bytes holds enough to tell (nine bytes, or six for an id without a
// header); 0 when it does not yet.
std::uint32_t PESHeaderLength(std::span<const std::uint8_t> Bytes);

} // namespace vantrel
