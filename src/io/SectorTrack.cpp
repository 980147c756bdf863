#include "io/SectorTrack.h"

#include <algorithm>
#include <cstring>

namespace vantrel {

namespace {

constexpr std::int64_t RiffHeaderLength = 12; // "RIFF", size, form type
constexpr std::int64_t ChunkHeaderLength = 8; // id, little-endian size

std::uint32_t LittleEndian32(const std::uint8_t* P)
{
    return P[0] | (P[1] << 8) | (P[2] << 16) | (static_cast<std::uint32_t>(P[3]) << 24);
}

} // namespace

TCDXASource::TCDXASource(TByteSource& File, std::int64_t DataStart, std::int64_t DataSize)
    : m_File(File), m_DataStart(DataStart)
{
    // A cut last sector still gives the stream bytes it holds.
    const std::int64_t Whole = DataSize / RawSectorSize;
    const std::int64_t Rest = DataSize % RawSectorSize;
    m_Size = Whole * SectorDataSize + std::clamp<std::int64_t>(Rest - SectorDataOffset, 0, SectorDataSize);
}

std::uint32_t TCDXASource::Read(void* Dest, std::uint32_t Count, std::int64_t Position)
{
    if (Position < 0 || Position >= m_Size)
        return 0;
    Count = static_cast<std::uint32_t>(std::min<std::int64_t>(Count, m_Size - Position));
    auto* Out = static_cast<std::uint8_t*>(Dest);
    std::uint32_t Done = 0;
    while (Done < Count) {
        const std::int64_t At = Position + Done;
        const std::int64_t Sector = At / SectorDataSize, Offset = At % SectorDataSize;
        const auto Piece =
            static_cast<std::uint32_t>(std::min<std::int64_t>(Count - Done, SectorDataSize - Offset));
        const std::uint32_t Got =
            m_File.Read(Out + Done, Piece, m_DataStart + Sector * RawSectorSize + SectorDataOffset + Offset);
        Done += Got;
        if (Got < Piece)
            break;
    }
    return Done;
}

std::unique_ptr<TByteSource> OpenSectorTrack(TByteSource& File)
{
    // Raw sectors cut out of a disc image: the sync pattern, then a header
    // of mode 2.
    static constexpr std::uint8_t Sync[] = {0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0};
    constexpr std::size_t ModeByte = 15;
    std::uint8_t Raw[ModeByte + 1];
    if (File.Size() >= RawSectorSize && File.Read(Raw, sizeof Raw, 0) == sizeof Raw &&
        std::memcmp(Raw, Sync, sizeof Sync) == 0 && Raw[ModeByte] == 2)
        return std::make_unique<TCDXASource>(File, 0, File.Size());
    std::uint8_t Head[RiffHeaderLength];
    if (File.Read(Head, sizeof Head, 0) != sizeof Head || std::memcmp(Head, "RIFF", 4) != 0 ||
        std::memcmp(Head + 8, "CDXA", 4) != 0)
        return nullptr;
    // Chunks follow one another, each padded to an even length.
    for (std::int64_t At = RiffHeaderLength; At < File.Size();) {
        std::uint8_t Chunk[ChunkHeaderLength];
        if (File.Read(Chunk, sizeof Chunk, At) != sizeof Chunk)
            return nullptr;
        const std::int64_t Start = At + ChunkHeaderLength;
        const std::int64_t Length = LittleEndian32(Chunk + 4);
        if (std::memcmp(Chunk, "data", 4) == 0)
            return std::make_unique<TCDXASource>(File, Start, std::min(Length, File.Size() - Start));
        At = Start + Length + (Length & 1);
    }
    return nullptr;
}

} // namespace vantrel
