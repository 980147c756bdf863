#include "mpeg/ts/Sections.h"

#include "mpeg/CRC32.h"

#include <algorithm>

namespace vantrel {

namespace {

// The length the section's first three bytes give it, all of it.
std::size_t SectionLength(const std::vector<std::uint8_t>& Section)
{
    return SectionHeaderLength + (((Section[1] & 0x0F) << 8) | Section[2]);
}

} // namespace

std::optional<TSectionHeader> DecodeSectionHeader(std::span<const std::uint8_t> Section)
{
    // table_id | syntax 1, private, reserved 2, length (12) | 16 | reserved 2,
    // version 5, current/next 1 | section number | last section number.
    constexpr std::size_t LongHeader = 8;
    if (Section.size() < LongHeader + SectionCRCLength || (Section[1] & 0x80) == 0)
        return std::nullopt;
    TSectionHeader Header;
    Header.TableId = Section[0];
    Header.Length =
        static_cast<std::uint16_t>(SectionHeaderLength + (((Section[1] & 0x0F) << 8) | Section[2]));
    if (Header.Length > Section.size() || Header.Length < LongHeader + SectionCRCLength)
        return std::nullopt;
    Header.Extension = static_cast<std::uint16_t>((Section[3] << 8) | Section[4]);
    Header.Version = (Section[5] >> 1) & 0x1F;
    Header.CurrentNext = (Section[5] & 1) != 0;
    Header.SectionNumber = Section[6];
    Header.LastSectionNumber = Section[7];
    return Header;
}

void TSectionAssembler::Reset()
{
    m_Section.clear();
    m_Active = false;
}

void TSectionAssembler::Complete()
{
    m_Active = false;
    const std::span<const std::uint8_t> Section(m_Section.data(), SectionLength(m_Section));
    if ((Section[1] & 0x80) != 0 && !CheckSectionCRC(Section)) {
        ++m_CRCErrors;
        return;
    }
    if (OnSection)
        OnSection(Section);
}

std::size_t TSectionAssembler::Take(const std::uint8_t* Data, std::size_t Count)
{
    std::size_t Used = 0;
    // The header first, a byte at a time: it may be split between packets.
    while (m_Section.size() < SectionHeaderLength && Used < Count)
        m_Section.push_back(Data[Used++]);
    if (m_Section.size() < SectionHeaderLength)
        return Used;
    const std::size_t Length = SectionLength(m_Section);
    if (Length > MaxSectionLength) {
        Reset();
        return Count;
    }
    const std::size_t Needed = std::min(Length - m_Section.size(), Count - Used);
    m_Section.insert(m_Section.end(), Data + Used, Data + Used + Needed);
    Used += Needed;
    if (m_Section.size() == Length)
        Complete();
    return Used;
}

void TSectionAssembler::Add(const TTransportPacket& Packet, const std::uint8_t* PacketBytes, bool Lost)
{
    if (Lost)
        Reset();
    if (Packet.PayloadLength == 0 || Packet.Scrambling != 0)
        return;
    const std::uint8_t* Data = PacketBytes + Packet.PayloadOffset;
    const std::size_t Count = Packet.PayloadLength;
    if (!Packet.PayloadUnitStart) {
        // What follows a section that ends here is stuffing: a new one
        // starts only where a pointer field says.
        if (m_Active)
            Take(Data, Count);
        return;
    }
    const std::size_t Pointer = Data[0];
    if (1 + Pointer > Count) {
        Reset();
        return;
    }
    // The pointer's bytes end the section in progress.
    if (m_Active)
        Take(Data + 1, Pointer);
    Reset();
    for (std::size_t At = 1 + Pointer; At < Count && Data[At] != 0xFF;) {
        m_Section.clear();
        m_Active = true;
        At += Take(Data + At, Count - At);
        if (m_Active)
            break; // it goes on in the next packet
    }
}

} // namespace vantrel
