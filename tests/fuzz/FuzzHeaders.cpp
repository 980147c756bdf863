// The video sequence header reader and the audio frame header search over
// arbitrary bytes in memory.
#include "media/MP3Read.h"
#include "media/MPEG1VideoRead.h"

using namespace vantrel;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size)
{
    TMemoryStream Stream;
    Stream.Write(Data, Size);
    Stream.SetPosition(0);
    std::uint16_t Width, Height, Code;
    ReadSequenceHeader(Stream, Width, Height, Code);
    Stream.SetPosition(0);
    TAudioFrameHeader Header;
    while (FindAudioFrameHeader(Stream, Header)) {
    }
    return 0;
}
