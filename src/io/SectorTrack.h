// VCD tracks as they come off a disc: a RIFF file of form "CDXA" whose data
// chunk holds raw CD-ROM XA sectors, mode 2 form 2, of 2352 bytes each:
// 12 sync bytes, a 4-byte header, an 8-byte subheader, 2324 bytes of the
// MPEG-1 system stream, and 4 bytes of error detection.
#pragma once

#include "io/ByteSource.h"

#include <memory>

namespace vantrel {

constexpr std::int64_t RawSectorSize = 2352;
constexpr std::int64_t SectorDataOffset = 24;
constexpr std::int64_t SectorDataSize = 2324;

// The system stream inside the sectors of File, read through File.
class TCDXASource : public TByteSource
{
public:
    // DataStart and DataSize: where the sectors stand in File.
    TCDXASource(TByteSource& File, std::int64_t DataStart, std::int64_t DataSize);
    std::int64_t Size() const override { return m_Size; }
    std::uint32_t Read(void* Dest, std::uint32_t Count, std::int64_t Position) override;

private:
    TByteSource& m_File;
    std::int64_t m_DataStart;
    std::int64_t m_Size;
};

// The stream of a RIFF/CDXA file ("RIFF", a size, "CDXA", then chunks; the
// sectors are the "data" chunk) or of raw mode 2 sectors cut out of a disc
// image (a .bin track); null when File is neither.
std::unique_ptr<TByteSource> OpenSectorTrack(TByteSource& File);

} // namespace vantrel
