// Fuzz inputs as files: the readers work on files, so each input is written
// to a temporary file that goes away with the object.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace vantrel::fuzz {

class TFuzzFile
{
public:
    TFuzzFile(const std::uint8_t* Data, std::size_t Size)
    {
        char Template[] = "/tmp/vantrel-fuzz-XXXXXX";
        const int Fd = ::mkstemp(Template);
        if (Fd < 0)
            std::abort();
        Name = Template;
        for (std::size_t Done = 0; Done < Size;) {
            const ssize_t N = ::write(Fd, Data + Done, Size - Done);
            if (N <= 0)
                std::abort();
            Done += static_cast<std::size_t>(N);
        }
        ::close(Fd);
    }
    ~TFuzzFile() { ::unlink(Name.c_str()); }
    TFuzzFile(const TFuzzFile&) = delete;
    TFuzzFile& operator=(const TFuzzFile&) = delete;
    std::string Name;
};

} // namespace vantrel::fuzz
