// Reads a header bit by bit, most significant bit first, with the
// Exp-Golomb codes of H.264 (ISO/IEC 14496-10, 9.1). A read past the end
// gives zeros and marks the reader, as does a code longer than 32 bits, so
// that a parser reads a header through and asks once whether it was whole.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace vantrel {

class TBitReader
{
public:
    explicit TBitReader(std::span<const std::uint8_t> Data, std::size_t FromBit = 0)
        : m_Data(Data), m_Pos(FromBit)
    {
    }
    // Count: 0 to 32.
    std::uint32_t Bits(int Count);
    bool Flag() { return Bits(1) != 0; }
    void Skip(std::size_t Count);
    // ue(v) and se(v): up to 31 leading zeros, values up to 2^32 - 2.
    std::uint32_t UE();
    std::int32_t SE();
    // Bits read so far, from the first bit of Data.
    std::size_t Position() const { return m_Pos; }
    // False once a read went past the end or met a code too long.
    bool Ok() const { return m_Ok; }

private:
    std::span<const std::uint8_t> m_Data;
    std::size_t m_Pos;
    bool m_Ok = true;
};

} // namespace vantrel
