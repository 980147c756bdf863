#include "ByteSource.h"

#include "SysUtils.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace vantrel {

std::uint32_t TMemorySource::Read(void* Dest, std::uint32_t Count, std::int64_t Position)
{
    if (Count == 0 || Position < 0 || Position >= Size())
        return 0;
    const auto N = static_cast<std::uint32_t>(std::min<std::int64_t>(Count, Size() - Position));
    std::memcpy(Dest, m_Data + Position, N);
    return N;
}

std::size_t TSourceStream::Read(void* Dest, std::size_t Count)
{
    const auto Chunk = static_cast<std::uint32_t>(std::min<std::size_t>(Count, 1u << 30));
    const std::uint32_t N = m_Source.Read(Dest, Chunk, m_Position);
    m_Position += N;
    return N;
}

void TSourceStream::Write(const void*, std::size_t)
{
    throw std::logic_error("TSourceStream is read-only");
}

} // namespace vantrel
