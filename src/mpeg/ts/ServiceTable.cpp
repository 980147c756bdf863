#include "mpeg/ts/ServiceTable.h"

#include "mpeg/CRC32.h"
#include "mpeg/ts/Sections.h"

#include <cstring>

namespace vantrel {

namespace {

constexpr std::uint8_t ServiceTag = 0x48;

void AppendUtf8(std::string& Out, std::uint32_t Code)
{
    if (Code < 0x80) {
        Out += static_cast<char>(Code);
    } else if (Code < 0x800) {
        Out += static_cast<char>(0xC0 | (Code >> 6));
        Out += static_cast<char>(0x80 | (Code & 0x3F));
    } else {
        Out += static_cast<char>(0xE0 | (Code >> 12));
        Out += static_cast<char>(0x80 | ((Code >> 6) & 0x3F));
        Out += static_cast<char>(0x80 | (Code & 0x3F));
    }
}

// A letter under one of ISO/IEC 6937's accents (0xC1 grave to 0xC8
// diaeresis, 0xCB cedilla), in Latin-1: each row lists the letters it
// takes, then their code points from the letter's column on.
std::uint32_t Accented(std::uint8_t Accent, char Letter)
{
    struct TRow
    {
        std::uint8_t Accent;
        const char* Letters;
        std::uint8_t Codes[12];
    };
    static constexpr TRow Rows[] = {
        {0xC1, "AEIOUaeiou", {0xC0, 0xC8, 0xCC, 0xD2, 0xD9, 0xE0, 0xE8, 0xEC, 0xF2, 0xF9}},
        {0xC2, "AEIOUYaeiouy", {0xC1, 0xC9, 0xCD, 0xD3, 0xDA, 0xDD, 0xE1, 0xE9, 0xED, 0xF3, 0xFA, 0xFD}},
        {0xC3, "AEIOUaeiou", {0xC2, 0xCA, 0xCE, 0xD4, 0xDB, 0xE2, 0xEA, 0xEE, 0xF4, 0xFB}},
        {0xC4, "ANOano", {0xC3, 0xD1, 0xD5, 0xE3, 0xF1, 0xF5}},
        {0xC8, "AEIOUaeiouy", {0xC4, 0xCB, 0xCF, 0xD6, 0xDC, 0xE4, 0xEB, 0xEF, 0xF6, 0xFC, 0xFF}},
        {0xCB, "Cc", {0xC7, 0xE7}},
    };
    for (const TRow& Row : Rows)
        if (Row.Accent == Accent)
            if (const char* At = std::strchr(Row.Letters, Letter); At && Letter)
                return Row.Codes[At - Row.Letters];
    return '?';
}

// ISO/IEC 6937 outside its accents: the few letters of its upper half that
// names use.
std::uint32_t Default6937(std::uint8_t Byte)
{
    switch (Byte) {
    case 0xA0: return 0xA0;
    case 0xA3: return 0xA3;
    case 0xA7: return 0xA7;
    case 0xE9: return 0xD8; // Ø
    case 0xF9: return 0xF8; // ø
    case 0xFB: return 0xDF; // ß
    default: return Byte < 0x80 ? Byte : '?';
    }
}

} // namespace

std::string DVBText(std::span<const std::uint8_t> Text)
{
    std::string Out;
    if (Text.empty())
        return Out;
    enum
    {
        Latin1,
        Iso6937,
        Ucs2,
        Utf8,
        Unknown
    } Table = Iso6937;
    std::size_t At = 0;
    const std::uint8_t First = Text[0];
    if (First >= 0x20) {
        Table = Iso6937;
    } else if (First == 0x15) {
        Table = Utf8, At = 1;
    } else if (First == 0x11) {
        Table = Ucs2, At = 1;
    } else if (First == 0x10) {
        // 0x10, then the 16-bit number of an ISO 8859 part.
        At = 3;
        Table = Text.size() >= 3 && (Text[2] == 1 || Text[2] == 9 || Text[2] == 15) ? Latin1 : Unknown;
    } else {
        // 0x01-0x0B: ISO 8859-5 to -15. Latin-1's letters stand where parts
        // 9 and 15 have theirs, but for a handful.
        At = First == 0x1F ? 2 : 1;
        Table = First == 0x05 || First == 0x0B ? Latin1 : Unknown;
    }
    if (Table == Utf8)
        return std::string(reinterpret_cast<const char*>(Text.data() + At), Text.size() - At);
    for (; At < Text.size(); ++At) {
        const std::uint8_t B = Text[At];
        if (Table == Ucs2) {
            if (At + 1 < Text.size())
                AppendUtf8(Out, (std::uint32_t{B} << 8) | Text[++At]);
            continue;
        }
        if (B == 0x8A) {
            Out += ' ';
        } else if (B < 0x20 || (B >= 0x80 && B < 0xA0)) {
            // control codes and emphasis marks
        } else if (B < 0x80) {
            Out += static_cast<char>(B);
        } else if (Table == Latin1) {
            AppendUtf8(Out, B);
        } else if (Table == Iso6937 && B >= 0xC1 && B <= 0xCF && At + 1 < Text.size()) {
            AppendUtf8(Out, Accented(B, static_cast<char>(Text[++At])));
        } else {
            AppendUtf8(Out, Table == Iso6937 ? Default6937(B) : '?');
        }
    }
    return Out;
}

std::optional<TSDT> DecodeSDT(std::span<const std::uint8_t> Section)
{
    const std::optional<TSectionHeader> Header = DecodeSectionHeader(Section);
    if (!Header || Header->TableId != SDTActualTableId || Header->Length < 11 + SectionCRCLength)
        return std::nullopt;
    TSDT SDT{Header->Extension, Header->Version, {}};
    // original_network_id (16), reserved (8), then per service: service_id
    // (16) | reserved 6, EIT flags 2 | running status 3, free CA 1,
    // descriptors_loop_length (12).
    const std::span<const std::uint8_t> B = Section.first(Header->Length - SectionCRCLength);
    for (std::size_t At = 11; At + 5 <= B.size();) {
        TService Service;
        Service.ServiceId = static_cast<std::uint16_t>((B[At] << 8) | B[At + 1]);
        const std::size_t Loop = ((B[At + 3] & 0x0F) << 8) | B[At + 4];
        if (At + 5 + Loop > B.size())
            break;
        // service_descriptor: type, provider name (length, bytes), service name (length, bytes).
        for (std::size_t D = At + 5; D + 2 <= At + 5 + Loop;) {
            const std::size_t Length = B[D + 1];
            if (D + 2 + Length > At + 5 + Loop)
                break;
            if (B[D] == ServiceTag && Length >= 3) {
                const std::span<const std::uint8_t> Body = B.subspan(D + 2, Length);
                const std::size_t ProviderLength = Body[1];
                Service.ServiceType = Body[0];
                if (2 + ProviderLength < Body.size()) {
                    const std::size_t NameLength = Body[2 + ProviderLength];
                    Service.Provider = DVBText(Body.subspan(2, ProviderLength));
                    if (3 + ProviderLength + NameLength <= Body.size())
                        Service.Name = DVBText(Body.subspan(3 + ProviderLength, NameLength));
                }
            }
            D += 2 + Length;
        }
        SDT.Services.push_back(std::move(Service));
        At += 5 + Loop;
    }
    return SDT;
}

} // namespace vantrel
