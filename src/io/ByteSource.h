// Random access to the bytes of an input, wherever they are: a file through
// its read window, a buffer in memory, or the system stream inside the
// sectors of a VCD track. Readers take a source, so an input is opened once
// and tests and fuzzers can feed them memory.
#pragma once

#include <cstdint>
#include <vector>

namespace vantrel {

class TByteSource
{
public:
    virtual ~TByteSource() = default;
    // The number of bytes the source holds; fixed for its life.
    virtual std::int64_t Size() const = 0;
    // Copies up to Count bytes at Position into Dest and returns how many:
    // fewer only where the source ends, 0 at or past its end. Raises an
    // Exception naming the input when bytes it holds cannot be read.
    virtual std::uint32_t Read(void* Dest, std::uint32_t Count, std::int64_t Position) = 0;
};

// Bytes in memory, borrowed: they must outlive the source.
class TMemorySource : public TByteSource
{
public:
    TMemorySource(const std::uint8_t* Data, std::size_t Size) : m_Data(Data), m_Size(Size) {}
    explicit TMemorySource(const std::vector<std::uint8_t>& Bytes) : TMemorySource(Bytes.data(), Bytes.size())
    {
    }
    std::int64_t Size() const override { return static_cast<std::int64_t>(m_Size); }
    std::uint32_t Read(void* Dest, std::uint32_t Count, std::int64_t Position) override;

private:
    const std::uint8_t* m_Data;
    std::size_t m_Size;
};

} // namespace vantrel
