#include "MP3Read.h"

#include <optional>

namespace vantrel {

namespace {

bool DecodeAt(const std::uint8_t* B, TAudioFrameHeader& Header)
{
    const std::uint32_t Word = B[0] | (B[1] << 8) | (B[2] << 16) | (static_cast<std::uint32_t>(B[3]) << 24);
    return DecodeAudioFrameHeader(Word, Header);
}

bool SameStream(const TAudioFrameHeader& A, const TAudioFrameHeader& B)
{
    return A.Version == B.Version && A.Layer == B.Layer && A.SampleRate == B.SampleRate &&
           A.ChannelMode == B.ChannelMode;
}

} // namespace

std::optional<std::size_t> FindAudioFrameHeader(std::span<const std::uint8_t> Data, TAudioFrameHeader& Header)
{
    const std::size_t Size = Data.size();
    std::optional<std::size_t> Unconfirmed;
    TAudioFrameHeader Candidate, Next, Lone;
    for (std::size_t At = 0; At + 4 <= Size; ++At) {
        if (!DecodeAt(Data.data() + At, Candidate))
            continue;
        const std::size_t NextAt = At + static_cast<std::size_t>(Candidate.FrameLength);
        if (NextAt + 4 <= Size) {
            if (DecodeAt(Data.data() + NextAt, Next) && SameStream(Candidate, Next)) {
                Header = Candidate;
                return At;
            }
        } else if (!Unconfirmed) {
            Unconfirmed = At;
            Lone = Candidate;
        }
    }
    if (Unconfirmed)
        Header = Lone;
    return Unconfirmed;
}

std::size_t FindFrameOf(const TAudioFrameHeader& Like, const std::uint8_t* Data, std::size_t Size)
{
    TAudioFrameHeader Candidate, Next;
    for (std::size_t At = 0; At + 4 <= Size; ++At) {
        if (!DecodeAt(Data + At, Candidate) || !SameStream(Candidate, Like))
            continue;
        const std::size_t NextAt = At + static_cast<std::size_t>(Candidate.FrameLength);
        if (NextAt + 4 > Size || (DecodeAt(Data + NextAt, Next) && SameStream(Next, Like)))
            return At;
    }
    return Size;
}

} // namespace vantrel
