// The program tables of a transport stream (ISO/IEC 13818-1, 2.4.4): the
// PAT's programs and the PMT of each, with its streams, their types and the
// descriptors that say what a private stream holds (DVB's AC-3, enhanced
// AC-3, AAC and DTS descriptors, ETSI EN 300 468 annex D; subtitling and
// teletext with their languages) and in which language a stream speaks.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace vantrel {

constexpr std::uint8_t PATTableId = 0x00;
constexpr std::uint8_t PMTTableId = 0x02;
// The stream type of PES packets of private data: what they hold is said
// by the stream's descriptors, or by its packets.
constexpr std::uint8_t PrivateDataType = 0x06;

struct TPATEntry
{
    std::uint16_t ProgramNumber = 0; // 0: the network PID
    std::uint16_t PID = 0;
};
struct TPAT
{
    std::uint16_t TransportStreamId = 0;
    std::uint8_t Version = 0;
    std::uint8_t SectionNumber = 0, LastSectionNumber = 0;
    std::vector<TPATEntry> Programs;
};
// One section of a PAT, whole and with its CRC checked; nothing for
// another table or a section shorter than its entries.
std::optional<TPAT> DecodePAT(std::span<const std::uint8_t> Section);

// What the descriptors of a stream (or a program) say.
struct TDescriptors
{
    // ISO 639-2 codes: of the ISO 639 descriptor, or one per subtitling
    // or teletext entry.
    std::vector<std::string> Languages;
    std::uint32_t Registration = 0; // format_identifier, e.g. 'AC-3'
    bool AC3 = false, EnhancedAC3 = false, AAC = false, DTS = false;
    bool Subtitling = false, Teletext = false;
};
TDescriptors DecodeDescriptors(std::span<const std::uint8_t> Loop);

struct TPMTStream
{
    std::uint8_t StreamType = 0;
    std::uint16_t PID = 0;
    TDescriptors Descriptors;
    // Where the entry stands in its section: stream_type's byte, and how
    // many bytes it takes with its descriptors.
    std::uint16_t EntryOffset = 0, EntryLength = 0;
};
struct TPMT
{
    std::uint16_t ProgramNumber = 0;
    std::uint8_t Version = 0;
    std::uint16_t PCRPID = 0;
    TDescriptors Descriptors;
    std::vector<TPMTStream> Streams;
};
// A PMT section, whole and with its CRC checked; nothing for another table
// or a section whose loops do not end where it does.
std::optional<TPMT> DecodePMT(std::span<const std::uint8_t> Section);

// What a stream holds, by its type and descriptors.
enum TStreamCoding : std::uint8_t
{
    scOther,
    scMPEG1Video,
    scMPEG2Video,
    scH264,
    scHEVC,
    scMPEG4Video,
    scVC1,
    scMPEGAudio,
    scAC3,
    scEnhancedAC3,
    scAAC,  // in ADTS frames
    scLATM, // AAC in LATM/LOAS
    scDTS,
    scLPCM,
    scSubtitles, // DVB subtitling
    scTeletext
};
// The coding of a stream of the PMT whose program descriptors are Program
// (a Blu-ray's 'HDMV' registration gives the types from 0x80 their meaning).
TStreamCoding StreamCodingOf(const TPMTStream& Stream, const TDescriptors& Program);
bool IsVideoCoding(TStreamCoding Coding);
bool IsSoundCoding(TStreamCoding Coding);
// "MPEG-2 video", "H.264", "AC-3", "DVB subtitles", ...
const char* StreamCodingName(TStreamCoding Coding);

} // namespace vantrel
