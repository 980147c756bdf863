// Where the pictures and the sound of a stream end, from the packets seen so
// far: what a joiner needs to start the next file, and a probe to tell a
// clip's duration. Time stamps are given as continuous 64-bit values (the
// caller has taken them off the wrapping 33-bit clock).
#pragma once

#include "mpeg/StartCodes.h"
#include "mpeg/audio/MPEGAudio.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace vantrel {

class TVideoEnd
{
public:
    // One PES packet of the video stream: its time stamps and payload. A
    // time stamp belongs to the first picture that starts in the payload.
    // Without Count, only that picture is looked for and pictures go
    // uncounted: a caller that knows the stream goes on for long passes it
    // for most of a stream, since only the pictures near its end matter.
    // NewPacket false: Payload goes on with the PES packet of the last call
    // (a transport stream brings it a transport packet at a time), whose
    // stamp waits for its first picture still.
    void Add(std::optional<std::int64_t> PTS, std::optional<std::int64_t> DTS, const std::uint8_t* Payload,
             std::size_t Length, bool Count = true, bool NewPacket = true);
    // The end of the last picture shown: one frame after the largest PTS, or
    // later when pictures without a stamp of their own follow (muxers stamp
    // only the first picture of a packet, and some only a few): a picture's
    // temporal reference, its place in display order within its group of
    // pictures, counts from the last stamped picture of the group, and a
    // group after it shows after that group, in its own order; pictures
    // decoded after it also end no earlier than its decode time and theirs. A picture
    // shows for a frame, or as long as MPEG-2's picture coding extension
    // says (field pictures, 3:2 pulldown). Nothing when no picture was
    // stamped.
    std::optional<std::int64_t> End(std::int64_t FrameTicks) const;

private:
    void PictureStart();
    void TemporalReference(int Reference);
    void NewGroup();
    // Gives the last picture Fields fields instead of a frame's two.
    void PictureLasts(int Fields);
    // Fields of the pictures of the group from display place From to To;
    // a frame's two for a place no picture was seen at.
    std::int64_t FieldsBetween(int From, int To) const;

    std::optional<std::int64_t> m_MaxPTS;
    // The packet's stamp, until the first picture that starts in it takes it.
    std::optional<std::int64_t> m_StampPTS, m_StampDecode;
    // The last stamped picture, and what came after it.
    std::optional<std::int64_t> m_AnchorPTS, m_AnchorDecode;
    int m_AnchorReference = 0;
    bool m_AnchorInGroup = false;
    // Fields from the stamped picture to the end of the groups closed since
    // (its own, and whole groups after it); nothing while its group is open.
    std::optional<std::int64_t> m_GroupsAfterAnchor;
    bool m_PendingIsAnchor = false;
    // Fields shown by the stamped picture and by those decoded after it.
    std::int64_t m_AnchorFields = 2, m_FieldsAfter = 0;
    int m_GroupMaxReference = -1;
    // The fields of the group's pictures by temporal reference, and the
    // last picture's reference (-1 before its header is read).
    std::vector<std::uint8_t> m_Fields = std::vector<std::uint8_t>(1024);
    int m_LastReference = -1;
    int m_FieldReference = -1; // of a first field picture, until its second
    bool m_LastIsAnchor = false;
    bool m_ProgressiveSequence = false;
    // A picture header cut by the end of a payload: its first two bytes.
    int m_HeaderNeed = 0;
    std::uint8_t m_Header[2] = {};
    TStartCodeScan m_Scan;
};

class TAudioEnd
{
public:
    // A new file: its frame header is looked for again, since bit rates
    // differ from file to file. What was added before no longer counts.
    void BeginFile();
    void Add(std::optional<std::int64_t> PTS, const std::uint8_t* Payload, std::size_t Length);
    // A packet of a sound sub-stream of private stream 1 (AC-3, DTS, LPCM),
    // its sub-stream header first: the rate comes from the first frame's
    // header (LPCM's own), the stamp belongs to the frame its pointer names.
    void AddPrivate(std::optional<std::int64_t> PTS, const std::uint8_t* Payload, std::size_t Length);
    // The PTS of the last stamped packet plus the play time of the bytes from
    // its first frame on, at the bit rate of the file's first confirmed frame
    // header.
    // Nothing when no packet of this file carried a PTS.
    std::optional<std::int64_t> End() const;
    // The file's bit rate in bit/s; 0 while no header was found.
    std::int32_t BitRate() const;

    // The payload gathered at the start of a file for the header search.
    static constexpr std::size_t SearchBytes = 4096;

private:
    void Search() const;

    std::optional<std::int64_t> m_LastPTS;
    std::int64_t m_BytesSince = 0;
    mutable std::vector<std::uint8_t> m_Head;
    mutable std::optional<TAudioFrameHeader> m_Header;
    mutable bool m_Searched = false;
    std::int32_t m_PrivateRate = 0; // of a private stream 1 sub-stream
};

// The bit rate of the sound sub-stream packet Payload (its first frame's
// AC-3 or DTS header, or the LPCM header); 0 when it tells none.
std::int32_t PrivateAudioBitRate(const std::uint8_t* Payload, std::size_t Length);

} // namespace vantrel
