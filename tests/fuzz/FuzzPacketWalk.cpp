// The packet walk over arbitrary bytes in memory: every packet read whole and
// as payload, a look ahead and back, then the payloads of the first video and
// audio streams gathered.
#include "mpeg/ps/ProgramStreamReader.h"

#include <vector>

using namespace vantrel;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size)
{
    TMemorySource Source(Data, Size);
    try {
        TProgramStreamReader Reader;
        Reader.Open(Source);
        std::vector<std::uint8_t> Buffer;
        while (Reader.NextPacket()) {
            Buffer.resize(Reader.PacketLength());
            Reader.ReadPacket(Buffer.data());
            if (Reader.PacketKind() == pkPES) {
                Buffer.resize(Reader.PES().PayloadLength);
                Reader.ReadPayload(Buffer.data());
            }
            const TProgramStreamReader::TMark Mark = Reader.Mark();
            if (Reader.NextPacket())
                Reader.Restore(Mark);
        }
        TProgramStreamReader Extractor;
        Extractor.Open(Source);
        std::vector<std::uint8_t> Video, Audio;
        Extractor.ExtractStream(0xE0, Video, 200, 8192);
        Extractor.ExtractStream(0xC0, Audio, 0, 0);
    } catch (const Exception&) {
    }
    return 0;
}
