#include "mpeg/ts/ProgramTables.h"

#include "mpeg/CRC32.h"
#include "mpeg/ts/Sections.h"

#include <iterator>

namespace vantrel {

namespace {

constexpr std::uint32_t FourCC(const char (&Text)[5])
{
    return (std::uint32_t(std::uint8_t(Text[0])) << 24) | (std::uint32_t(std::uint8_t(Text[1])) << 16) |
           (std::uint32_t(std::uint8_t(Text[2])) << 8) | std::uint8_t(Text[3]);
}

// Descriptor tags (ISO/IEC 13818-1, 2.6; ETSI EN 300 468, 6.1).
constexpr std::uint8_t RegistrationTag = 0x05, LanguageTag = 0x0A, VBITeletextTag = 0x46, TeletextTag = 0x56,
                       SubtitlingTag = 0x59, AC3Tag = 0x6A, EnhancedAC3Tag = 0x7A, DTSTag = 0x7B,
                       AACTag = 0x7C;

std::uint16_t Word(const std::uint8_t* P)
{
    return static_cast<std::uint16_t>((P[0] << 8) | P[1]);
}

// A 12-bit length after four reserved bits, and a 13-bit PID after three.
std::uint16_t Length12(const std::uint8_t* P)
{
    return Word(P) & 0x0FFF;
}
std::uint16_t PID13(const std::uint8_t* P)
{
    return Word(P) & 0x1FFF;
}

// The language codes of a descriptor of entries Step bytes long, each
// starting with its code.
void TakeLanguages(std::span<const std::uint8_t> Body, std::size_t Step, std::vector<std::string>& Languages)
{
    for (std::size_t At = 0; At + Step <= Body.size(); At += Step) {
        std::string Code(reinterpret_cast<const char*>(&Body[At]), 3);
        // Codes are three letters; anything else says nothing.
        bool Letters = true;
        for (char& C : Code) {
            Letters = Letters && ((C >= 'a' && C <= 'z') || (C >= 'A' && C <= 'Z'));
            C = static_cast<char>(C | 0x20);
        }
        if (Letters)
            Languages.push_back(Code);
    }
}

// The body of the section after its 8-byte header, without its CRC.
std::optional<std::span<const std::uint8_t>> Body(std::span<const std::uint8_t> Section, std::uint8_t TableId)
{
    const std::optional<TSectionHeader> Header = DecodeSectionHeader(Section);
    if (!Header || Header->TableId != TableId)
        return std::nullopt;
    return Section.subspan(8, Header->Length - 8 - SectionCRCLength);
}

} // namespace

std::optional<TPAT> DecodePAT(std::span<const std::uint8_t> Section)
{
    const auto Entries = Body(Section, PATTableId);
    if (!Entries)
        return std::nullopt;
    const TSectionHeader Header = *DecodeSectionHeader(Section);
    TPAT PAT{Header.Extension, Header.Version, Header.SectionNumber, Header.LastSectionNumber, {}};
    // program_number (16) | reserved (3) PID (13)
    for (std::size_t At = 0; At + 4 <= Entries->size(); At += 4)
        PAT.Programs.push_back({Word(&(*Entries)[At]), PID13(&(*Entries)[At + 2])});
    return PAT;
}

TDescriptors DecodeDescriptors(std::span<const std::uint8_t> Loop)
{
    TDescriptors Result;
    for (std::size_t At = 0; At + 2 <= Loop.size();) {
        const std::uint8_t Tag = Loop[At], Length = Loop[At + 1];
        if (At + 2 + Length > Loop.size())
            break;
        const std::span<const std::uint8_t> Body = Loop.subspan(At + 2, Length);
        switch (Tag) {
        case RegistrationTag:
            if (Length >= 4)
                Result.Registration =
                    (std::uint32_t{Body[0]} << 24) | (Body[1] << 16) | (Body[2] << 8) | Body[3];
            break;
        // A code and the audio type, a code per entry.
        case LanguageTag: TakeLanguages(Body, 4, Result.Languages); break;
        // A code, the type and two page ids.
        case SubtitlingTag:
            Result.Subtitling = true;
            TakeLanguages(Body, 8, Result.Languages);
            break;
        // A code, the type and magazine, the page.
        case TeletextTag:
        case VBITeletextTag:
            Result.Teletext = true;
            TakeLanguages(Body, 5, Result.Languages);
            break;
        case AC3Tag: Result.AC3 = true; break;
        case EnhancedAC3Tag: Result.EnhancedAC3 = true; break;
        case DTSTag: Result.DTS = true; break;
        case AACTag: Result.AAC = true; break;
        default: break;
        }
        At += 2u + Length;
    }
    return Result;
}

std::optional<TPMT> DecodePMT(std::span<const std::uint8_t> Section)
{
    const auto Loops = Body(Section, PMTTableId);
    if (!Loops || Loops->size() < 4)
        return std::nullopt;
    const std::span<const std::uint8_t> B = *Loops;
    TPMT PMT;
    PMT.ProgramNumber = DecodeSectionHeader(Section)->Extension;
    PMT.Version = DecodeSectionHeader(Section)->Version;
    // reserved (3) PCR_PID (13) | reserved (4) program_info_length (12)
    PMT.PCRPID = PID13(&B[0]);
    const std::size_t ProgramInfo = Length12(&B[2]);
    if (4 + ProgramInfo > B.size())
        return std::nullopt;
    PMT.Descriptors = DecodeDescriptors(B.subspan(4, ProgramInfo));
    // stream_type | reserved (3) PID (13) | reserved (4) ES_info_length (12)
    std::size_t At = 4 + ProgramInfo;
    for (; At + 5 <= B.size();) {
        const std::size_t Info = Length12(&B[At + 3]);
        if (At + 5 + Info > B.size())
            return std::nullopt;
        TPMTStream Stream;
        Stream.StreamType = B[At];
        Stream.PID = PID13(&B[At + 1]);
        Stream.Descriptors = DecodeDescriptors(B.subspan(At + 5, Info));
        Stream.EntryOffset = static_cast<std::uint16_t>(8 + At);
        Stream.EntryLength = static_cast<std::uint16_t>(5 + Info);
        PMT.Streams.push_back(std::move(Stream));
        At += 5 + Info;
    }
    // An entry cut short: the section is not what its writer meant.
    if (At != B.size())
        return std::nullopt;
    return PMT;
}

TStreamCoding StreamCodingOf(const TPMTStream& Stream, const TDescriptors& Program)
{
    const TDescriptors& D = Stream.Descriptors;
    const bool BluRay = Program.Registration == FourCC("HDMV");
    switch (Stream.StreamType) {
    case 0x01: return scMPEG1Video;
    case 0x02: return scMPEG2Video;
    case 0x03:
    case 0x04: return scMPEGAudio;
    case 0x0F: return scAAC;
    case 0x10: return scMPEG4Video;
    case 0x11: return scLATM;
    case 0x1B: return scH264;
    case 0x24: return scHEVC;
    case 0xEA: return scVC1;
    case 0x80: return BluRay ? scLPCM : scOther;
    // ATSC's and Blu-ray's AC-3 and enhanced AC-3; DTS on Blu-ray.
    case 0x81: return scAC3;
    case 0x82: return BluRay ? scDTS : scOther;
    case 0x84:
    case 0x87: return scEnhancedAC3;
    case 0x85:
    case 0x86: return BluRay ? scDTS : scOther;
    case 0x06: break; // PES private data: the descriptors tell
    default: return scOther;
    }
    const std::uint32_t Registration = D.Registration;
    if (D.EnhancedAC3 || Registration == FourCC("EAC3"))
        return scEnhancedAC3;
    if (D.AC3 || Registration == FourCC("AC-3"))
        return scAC3;
    if (D.DTS || Registration == FourCC("DTS1") || Registration == FourCC("DTS2") ||
        Registration == FourCC("DTS3"))
        return scDTS;
    if (D.AAC)
        return scAAC;
    if (D.Subtitling)
        return scSubtitles;
    if (D.Teletext)
        return scTeletext;
    return scOther;
}

bool IsVideoCoding(TStreamCoding Coding)
{
    return Coding >= scMPEG1Video && Coding <= scVC1;
}

bool IsSoundCoding(TStreamCoding Coding)
{
    return Coding >= scMPEGAudio && Coding <= scLPCM;
}

const char* StreamCodingName(TStreamCoding Coding)
{
    static constexpr const char* Names[] = {"other", "MPEG-1 video", "MPEG-2 video",  "H.264",
                                            "H.265", "MPEG-4 video", "VC-1",          "MPEG audio",
                                            "AC-3",  "E-AC-3",       "AAC",           "AAC (LATM)",
                                            "DTS",   "LPCM",         "DVB subtitles", "teletext"};
    return Coding < std::size(Names) ? Names[Coding] : "other";
}

} // namespace vantrel
