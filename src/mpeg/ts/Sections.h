// The sections of a transport stream's tables (ISO/IEC 13818-1, 2.4.4),
// gathered from the packets of their PID: a packet that starts a unit says
// with its pointer field where the next section begins, a section may run
// over many packets and several may share one, and 0xFF where a table id
// would stand fills the rest of a packet.
#pragma once

#include "mpeg/ts/TransportPacket.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

namespace vantrel {

// table_id, the syntax indicator and the 12-bit section length: the length
// counts the bytes after these three.
constexpr std::uint32_t SectionHeaderLength = 3;
// Private sections (the DVB tables) may be this long; PSI ones 1024.
constexpr std::uint32_t MaxSectionLength = 4096;

// The fields of the long form that every table shares: bytes 3-7.
struct TSectionHeader
{
    std::uint8_t TableId = 0;
    std::uint16_t Length = 0;    // of the whole section, its header and CRC included
    std::uint16_t Extension = 0; // transport_stream_id, program_number, service table's ts id
    std::uint8_t Version = 0;
    bool CurrentNext = false;
    std::uint8_t SectionNumber = 0;
    std::uint8_t LastSectionNumber = 0;
};
// The header of the long-form section that Section holds whole (header, its
// bytes, CRC); nothing when it is of the short form or shorter than it says.
std::optional<TSectionHeader> DecodeSectionHeader(std::span<const std::uint8_t> Section);

class TSectionAssembler
{
public:
    // The payload of the next packet of the PID; Lost when packets of the
    // PID went missing before it (the section in progress is then dropped).
    // Each section it completes is handed to OnSection whole: those of the
    // long form only when their CRC holds.
    void Add(const TTransportPacket& Packet, const std::uint8_t* PacketBytes, bool Lost = false);
    void Reset();
    std::function<void(std::span<const std::uint8_t> Section)> OnSection;
    // Long-form sections whose CRC failed.
    int CRCErrors() const { return m_CRCErrors; }

private:
    // Takes bytes of the section in progress; returns how many it used.
    std::size_t Take(const std::uint8_t* Data, std::size_t Count);
    void Complete();

    std::vector<std::uint8_t> m_Section;
    bool m_Active = false;
    int m_CRCErrors = 0;
};

} // namespace vantrel
