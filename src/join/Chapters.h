// Chapters at the joints of a join: where each input begins in the output,
// as one value, and the chapter lists that authoring tools and muxers read.
#pragma once

#include "io/ByteSource.h"
#include "join/Joiner.h"
#include "probe/MPEGInfo.h"

#include <optional>
#include <string>
#include <vector>

namespace vantrel {

// Where one input's time line, first stamp and first picture stand, read from
// its own stream; seconds, the last three against the start of its time line
// (its smallest first PTS of sound and video, as the joiner measures it).
struct TInputTimes
{
    double FirstStamp = 0;   // of the first packet with a time stamp
    double FirstPicture = 0; // its smallest video PTS near the start
    double Pictures = 0;     // how long its pictures show, end to end
    // The distance between its first pack headers while it is one: 2324 on
    // a VCD or SVCD, 2048 on a DVD; 0 when it varies or there are no packs.
    std::int64_t PackSize = 0;
    // The start of its time line as its stamps say; nothing without stamps.
    std::optional<std::int64_t> TimeLine;
};

// Reads an input's times from its head and the last megabyte of it. An
// elementary stream has no stamps: its pictures are counted (its record's
// duration, when it was probed with one). Raises the input file's errors.
TInputTimes ReadInputTimes(const TInputRecord& Record);
TInputTimes ReadInputTimes(TByteSource& Source, const TInputRecord& Record);

// Where an input begins in the output: the start of its time line, in
// seconds from the output's start (its smallest first stamp), the pause put
// before it for the decoder's buffers, and whether it goes on where the one
// before stopped (the halves of a split recording).
struct TInputPlacement
{
    double Start = 0;
    double Pause = 0;
    bool Continues = false;
    // A later file's H.264 open GOP: the pictures of its first group that
    // cannot be shown, and whether its broken link flag says so.
    std::size_t LeadingPictures = 0;
    bool BrokenLink = false;
};

// The placements of a join that ran to its end, one per input: from the
// joints the joiner found, or for an output without time stamps (video only,
// or elementary streams) the pictures of the inputs end to end.
std::vector<TInputPlacement> PlaceInputs(const TJoiner& Joiner, const std::vector<TInputTimes>& Times);

// The disc an output is made for, by its first input's packs.
enum class TDiscKind
{
    None,
    Dvd,  // MPEG-2 packs of 2048 bytes
    Vcd,  // MPEG-1 packs of 2324 bytes
    Svcd, // MPEG-2 packs of 2324 bytes
};
TDiscKind DiscKindOf(const TInputRecord& First, const TInputTimes& Times, bool VideoOnly);

enum class TChapterFormat
{
    Text,       // CHAPTER01=00:00:00.000 and CHAPTER01NAME=, as mkvmerge reads it
    FFMetadata, // ";FFMETADATA1" with [CHAPTER] blocks, as ffmpeg reads it
    DvdAuthor,  // a DVD title with chapters="..." at the joints
    VcdImager,  // a VCD or SVCD with an entry point at each joint
};

// The format a name says: "txt", "ffmetadata", "dvdauthor", "vcdimager".
std::optional<TChapterFormat> ChapterFormatNamed(const std::string& Name);
// The format a file name's extension says: .txt; .ffmeta, .ffmetadata and
// .meta; .xml, which is vcdimager's for a VCD or SVCD and dvdauthor's
// otherwise. Nothing for any other name.
std::optional<TChapterFormat> ChapterFormatOf(const std::string& FileName, TDiscKind Disc);
// The format that fits an output: dvdauthor's for a DVD, vcdimager's for a
// VCD or SVCD, the plain text otherwise.
TChapterFormat ChapterFormatFor(TDiscKind Disc);
// The chapter list's name beside an output: its name without the extension,
// then ".chapters.txt", ".ffmeta", ".dvdauthor.xml" or ".vcdimager.xml".
std::string ChapterFileName(const std::string& Output, TChapterFormat Format);

struct TChapter
{
    std::string Name; // the file's name, without folder and extension
    // Where the input's first picture is shown, in seconds from the output's
    // start.
    double Start = 0;
    // The same with every picture of the inputs before laid end to end, as
    // a muxer that makes its own picture times from the frame rate (mkvmerge)
    // has them: the pauses at the joints and any gap in the pictures left out.
    double PictureStart = 0;
};

struct TChapterList
{
    std::vector<TChapter> Chapters;
    std::string Output; // the joined file, as the XML formats name it
    TDiscKind Disc = TDiscKind::None;
    double FrameRate = 25;
    // The output's first picture, from its start: where dvdauthor counts from.
    double FirstPicture = 0;
    double End = 0; // where the last input's pictures stop showing
};

// One chapter per input, where its first picture is shown in the output.
TChapterList MakeChapterList(const std::vector<TInputRecord>& Inputs, const std::vector<TInputTimes>& Times,
                             const std::vector<TInputPlacement>& Placements, const std::string& Output,
                             bool VideoOnly);

// The chapter list as a file of the format holds it (UTF-8, LF line ends).
std::string ChapterText(const TChapterList& List, TChapterFormat Format);
// "h:mm:ss.mmm", rounded to the millisecond.
std::string ChapterTime(double Seconds);

} // namespace vantrel
