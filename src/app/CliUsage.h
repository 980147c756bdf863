// What the command-line tool says of itself: its usage and each command's
// help, as --help prints them.
#pragma once

namespace vantrel {

extern const char* const Usage;
extern const char* const InfoUsage;
extern const char* const JoinUsage;

} // namespace vantrel
