#include "MP3Read.h"

namespace vantrel {

bool FindAudioFrameHeader(TMemoryStream& Stream, TAudioFrameHeader& Header)
{
    while (Stream.Position() < Stream.Size()) {
        std::uint8_t B[4];
        if (Stream.Read(B, 4) < 4)
            return false;
        const std::uint32_t Word =
            B[0] | (B[1] << 8) | (B[2] << 16) | (static_cast<std::uint32_t>(B[3]) << 24);
        if (DecodeAudioFrameHeader(Word, Header))
            return true;
        Stream.SetPosition(Stream.Position() - 3);
    }
    return false;
}

} // namespace vantrel
