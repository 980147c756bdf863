// The JSON a script reads about a file: what `vantrel-cli info --json`
// prints, one object a file.
#pragma once

#include "probe/MPEGInfo.h"

#include <string>

namespace vantrel {

// A JSON string: quotes, backslashes and control characters escaped, bytes
// that are not UTF-8 (a file name can hold any) replaced by U+FFFD.
std::string JsonString(const std::string& Text);
// The "file" field of an entry; a name that is not UTF-8 also gives its
// exact bytes, in hex ("file_bytes"), so that a script can still open the file.
std::string JsonFile(const std::string& File);
// The object of a file that could be read, its status against Reference:
// kind, size, rate, duration, the first sound stream, status, difference;
// a transport stream adds its packet size and its programs with their
// streams (PIDs, codecs, languages).
std::string InfoJson(const std::string& File, const TMediaInfo& Info, const TMediaInfo& Reference);

} // namespace vantrel
