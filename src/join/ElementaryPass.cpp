#include "join/ElementaryPass.h"

#include "join/VideoEdits.h"
#include "mpeg/StartCodes.h"
#include "mpeg/ps/ProgramStreamReader.h"

#include <algorithm>
#include <vector>

namespace vantrel {

bool CopyElementaryStream(TByteSource& Source, TOutputFile& Output, bool Later, bool Last,
                          const TPassProgress& Progress)
{
    // A chunk and the bytes a sequence end code may run on into.
    std::uint8_t Buffer[CopyChunkSize + 3];
    std::size_t Blank = 0;
    for (std::int64_t Position = 0;;) {
        const std::uint32_t Read = Source.Read(Buffer, sizeof Buffer, Position);
        const std::uint32_t N = std::min(Read, CopyChunkSize);
        if (!Last) {
            std::fill_n(Buffer, std::min<std::size_t>(Blank, N), 0);
            Blank = BlankSequenceEnds(Buffer, N, Read);
        }
        // A later file's first group of pictures follows its first sequence header.
        if (Later && Position == 0)
            MarkBrokenLink(Buffer, N);
        Output.Write(Buffer, N);
        Position += N;
        if (Progress && Progress(Position))
            return false;
        if (N != CopyChunkSize)
            return true;
    }
}

bool CopyVideoPayload(TByteSource& Source, bool ProgramStream, TOutputFile& Output, bool Later, bool Last,
                      const TPassProgress& Progress)
{
    TProgramStreamReader Reader;
    Reader.Open(Source);
    Reader.SetProgramStream(ProgramStream);
    Reader.ScanProgress = Progress;
    // The last three bytes of each payload wait for the next: an end code
    // split between two payloads is blanked whole.
    std::vector<std::uint8_t> Carry;
    bool GroupSeen = !Later, Stopped = false;
    while (Reader.NextPacket()) {
        if (Progress && Progress(Reader.PacketEnd())) {
            Stopped = true;
            break;
        }
        const TPESInfo& PES = Reader.PES();
        // A header that runs past its own packet leaves no payload.
        if (Reader.PacketKind() != pkPES || PES.StreamId != FirstVideoStream || !Reader.PESHeaderFits())
            continue;
        const std::size_t Length = Carry.size() + PES.PayloadLength;
        std::uint8_t* Room = Output.Claim(Length);
        try {
            Reader.ReadPayload(std::copy(Carry.begin(), Carry.end(), Room));
        } catch (...) {
            Output.Unclaim(Length);
            throw;
        }
        if (!GroupSeen)
            GroupSeen = MarkBrokenLink(Room, Length);
        if (Last) {
            Carry.clear();
            continue;
        }
        BlankSequenceEnds(Room, Length, Length);
        const std::size_t Held = std::min<std::size_t>(3, Length);
        Carry.assign(Room + Length - Held, Room + Length);
        Output.Unclaim(Held);
    }
    Output.Write(Carry.data(), Carry.size());
    return !Stopped;
}

} // namespace vantrel
