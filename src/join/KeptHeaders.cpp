#include "join/KeptHeaders.h"

#include "mpeg/ps/PackSyntax.h"

namespace vantrel {

void TKeptHeaders::AddFile(std::size_t Index, const std::vector<TBytes>& Headers)
{
    if (Headers.empty())
        return;
    if (!m_File) {
        m_File = Index;
        for (const TBytes& Header : Headers)
            if (!Own(Header))
                m_Kept.push_back({Header, Header});
        return;
    }
    for (std::size_t K = 0; K < Headers.size(); ++K) {
        TBytes& Kept = m_Kept[K % m_Kept.size()].Raised;
        RaiseSystemHeaderBounds(Kept.data(), Kept.size(), Headers[K].data(), Headers[K].size(), 0);
    }
}

void TKeptHeaders::Finish(std::uint32_t MuxRate)
{
    for (TKept& Kept : m_Kept)
        RaiseSystemHeaderBounds(Kept.Raised.data(), Kept.Raised.size(), nullptr, 0, MuxRate);
}

const TKeptHeaders::TBytes* TKeptHeaders::Own(const TBytes& Bytes) const
{
    const auto Found =
        std::find_if(m_Kept.begin(), m_Kept.end(), [&](const TKept& Kept) { return Kept.Original == Bytes; });
    return Found == m_Kept.end() ? nullptr : &Found->Raised;
}

const TKeptHeaders::TBytes* TKeptHeaders::Kept(std::size_t Occurrence) const
{
    return m_Kept.empty() ? nullptr : &m_Kept[Occurrence % m_Kept.size()].Raised;
}

} // namespace vantrel
