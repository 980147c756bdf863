#include "app/CliUsage.h"

namespace vantrel {

const char* const Usage =
    "Usage: vantrel-cli info [--json] [--] FILE...\n"
    "       vantrel-cli join -o OUTPUT [--video-only] [--no-recalc-timecodes]\n"
    "                        [--chapters FILE [--chapters-format FORMAT]] [--program N]\n"
    "                        [--json] [--] FILE...\n"
    "       vantrel-cli --help | --version\n"
    "\n"
    "Run 'vantrel-cli COMMAND --help' for what a command does.\n";

const char* const InfoUsage =
    "Usage: vantrel-cli info [--json] [--] FILE...\n"
    "\n"
    "Shows what the file list of Vantrel shows for each file: frame size, frame\n"
    "rate, status against the first file, kind, duration and the first audio\n"
    "stream. A transport stream shows every sound stream of its program, and\n"
    "then each program (its number, channel name, PMT and PCR PIDs) with every\n"
    "stream (PID, codec, format, languages; subtitles and teletext too). A file\n"
    "that cannot be used shows why.\n"
    "  --json    one JSON document instead of text; a transport stream adds\n"
    "            packet_size, program and programs (with their streams)\n"
    "Exit status: 0 when every file could be read, 1 otherwise, 2 on a usage error.\n";

const char* const JoinUsage =
    "Usage: vantrel-cli join -o OUTPUT [--video-only] [--no-recalc-timecodes]\n"
    "                        [--chapters FILE [--chapters-format FORMAT]] [--program N]\n"
    "                        [--json] [--] FILE...\n"
    "\n"
    "Joins the files, in the order given, into OUTPUT (written as named). Files\n"
    "whose video differs cannot be joined; files whose audio differs can be\n"
    "joined only without audio: give --video-only. A video elementary stream\n"
    "has no audio, so among files with sound it needs --video-only too; among\n"
    "files without sound it is joined as video without asking. Transport\n"
    "streams (DVB and set-top-box recordings) are joined as transport streams,\n"
    "with their sound; pieces of one recording join back to it.\n"
    "  -o, --output FILE        the file to write; an existing file is replaced\n"
    "                           only when the join has succeeded\n"
    "  --video-only             write only the video, as one elementary stream\n"
    "  --no-recalc-timecodes    copy time stamps unchanged instead of re-stamping\n"
    "  --chapters FILE          also write a chapter list: a chapter where each\n"
    "                           file's first picture is shown, named after the file\n"
    "  --chapters-format FORMAT txt (CHAPTER01=00:00:00.000, for mkvmerge),\n"
    "                           ffmetadata (ffmpeg's ;FFMETADATA1), dvdauthor (a\n"
    "                           DVD title) or vcdimager (a VCD or SVCD); by default\n"
    "                           FILE's extension says: .txt, .ffmeta, or .xml for\n"
    "                           vcdimager's when OUTPUT is a VCD or SVCD and\n"
    "                           dvdauthor's otherwise\n"
    "  --program N              of transport streams, keep program N alone (its\n"
    "                           number in the first file, as info shows it); a\n"
    "                           file of one program gives its own\n"
    "  --json                   print the join's report on standard output: for\n"
    "                           each file its start in OUTPUT, the pause before it\n"
    "                           and whether it continues the one before\n"
    "\n"
    "OUTPUT may also be a pipe, a device or standard output (-o - or -o\n"
    "/dev/stdout): it is then written directly, appending where the shell opened\n"
    "it to append (>>). On a terminal a progress bar shows on standard error;\n"
    "when OUTPUT is standard error, the join says nothing, and only its exit\n"
    "status tells how it went.\n"
    "Ctrl-C, SIGTERM and SIGHUP stop a join and leave OUTPUT as it was (a pipe\n"
    "or a device keeps what it was given).\n"
    "Exit status: 0 success, 1 failure, 2 usage error, 128 + the signal's number\n"
    "when a signal stopped the join.\n";

} // namespace vantrel
