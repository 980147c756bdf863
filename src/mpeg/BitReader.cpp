#include "mpeg/BitReader.h"

namespace vantrel {

std::uint32_t TBitReader::Bits(int Count)
{
    std::uint32_t Value = 0;
    for (int I = 0; I < Count; ++I, ++m_Pos) {
        const std::size_t Byte = m_Pos / 8;
        if (Byte >= m_Data.size()) {
            m_Ok = false;
            return 0;
        }
        Value = (Value << 1) | ((m_Data[Byte] >> (7 - m_Pos % 8)) & 1);
    }
    return Value;
}

void TBitReader::Skip(std::size_t Count)
{
    const std::size_t Total = m_Data.size() * 8;
    if (m_Pos > Total || Total - m_Pos < Count)
        m_Ok = false;
    m_Pos += Count;
}

std::uint32_t TBitReader::UE()
{
    // codeNum = 2^zeros - 1 + the zeros' count of bits after the one.
    int Zeros = 0;
    while (m_Ok && !Flag())
        if (++Zeros > 31) {
            m_Ok = false;
            return 0;
        }
    if (!m_Ok)
        return 0;
    return static_cast<std::uint32_t>((std::uint64_t{1} << Zeros) - 1 + Bits(Zeros));
}

std::int32_t TBitReader::SE()
{
    // 1, 2, 3, 4 ... map to 1, -1, 2, -2 ...
    const std::uint32_t Code = UE();
    const auto Magnitude = static_cast<std::int32_t>((Code + 1) / 2);
    return Code % 2 ? Magnitude : -Magnitude;
}

} // namespace vantrel
