// The system headers a joined stream keeps: those of the first file that has
// any, raised to cover what every file promises. The k-th header of another
// file speaks for what the k-th kept one does, the kept ones taken in turn
// (a VCD has one for its video and one for its audio; a DVD repeats one in
// every navigation pack), and
// all of them cover the highest mux rate the output has. Known before
// anything is written, so that a header is written once, as it ends up.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace vantrel {

class TKeptHeaders
{
public:
    using TBytes = std::vector<std::uint8_t>;

    // A file's system headers (whole packets), in the order they stand;
    // files in join order.
    void AddFile(std::size_t Index, const std::vector<TBytes>& Headers);
    // Raises every kept header to a rate bound of MuxRate, once all files are in.
    void Finish(std::uint32_t MuxRate);

    // The file whose headers are kept; nothing while none has any.
    std::optional<std::size_t> File() const { return m_File; }
    bool Keeps(std::size_t Index) const { return !m_File || *m_File == Index; }
    // What to write for a kept header, or for a copy of one (the rest of a
    // recording repeats its headers): nothing when Bytes is none of them.
    const TBytes* Own(const TBytes& Bytes) const;
    // The kept header the k-th (Occurrence) header of another file speaks
    // for; nothing when none is kept.
    const TBytes* Kept(std::size_t Occurrence) const;

private:
    struct TKept
    {
        TBytes Original, Raised;
    };
    std::optional<std::size_t> m_File;
    std::vector<TKept> m_Kept; // one a header the kept file has
};

} // namespace vantrel
