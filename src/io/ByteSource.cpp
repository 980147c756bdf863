#include "io/ByteSource.h"

#include "io/SysUtils.h"

#include <algorithm>
#include <cstring>

namespace vantrel {

std::uint32_t TMemorySource::Read(void* Dest, std::uint32_t Count, std::int64_t Position)
{
    if (Count == 0 || Position < 0 || Position >= Size())
        return 0;
    const auto N = static_cast<std::uint32_t>(std::min<std::int64_t>(Count, Size() - Position));
    std::memcpy(Dest, m_Data + Position, N);
    return N;
}

} // namespace vantrel
