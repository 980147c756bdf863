// DVB's service description table (ETSI EN 300 468, 5.2.3): the name of
// each service (the channel a person knows) and of its provider, and the
// character tables DVB writes such names in (annex A).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace vantrel {

// The SDT of the transport stream itself; 0x46 describes other ones.
constexpr std::uint8_t SDTActualTableId = 0x42;
// The events of its services (EIT present/following of the stream itself).
constexpr std::uint16_t EITPID = 0x0012;
constexpr std::uint8_t EITActualTableId = 0x4E;

struct TService
{
    std::uint16_t ServiceId = 0; // the program_number of the PAT and PMT
    std::uint8_t ServiceType = 0;
    std::string Name, Provider; // UTF-8
};
struct TSDT
{
    std::uint16_t TransportStreamId = 0;
    std::uint8_t Version = 0;
    std::vector<TService> Services;
};
// One SDT section of the actual stream, whole and with its CRC checked;
// nothing for another table. Services without a service descriptor keep
// empty names.
std::optional<TSDT> DecodeSDT(std::span<const std::uint8_t> Section);

// A DVB text in UTF-8: the first byte may choose a character table (ISO
// 8859 parts, UCS-2, UTF-8); without one it is the default table, ISO/IEC
// 6937, whose accents come before their letters. Emphasis marks and other
// control codes are dropped, a line break becomes a space; characters no
// table here knows become '?'.
std::string DVBText(std::span<const std::uint8_t> Text);

} // namespace vantrel
