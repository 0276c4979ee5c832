// Helpers that the C++ tests and fuzz targets of every folder share.
#ifndef ZEL_TESTSUPPORT_READ_FILE_H
#define ZEL_TESTSUPPORT_READ_FILE_H

#include <cstdio>
#include <string>

namespace zeltest {

// The bytes left in a stream (a file, a pipe), which stays open.
inline std::string read_stream(FILE *f)
{
    std::string out;
    char buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0)
        out.append(buf, n);
    return out;
}

// The bytes of a file; `missing` when it cannot be opened, so that a comparison
// shows the absence rather than matching an empty file.
inline std::string read_file(const std::string &path, const std::string &missing = "<missing>")
{
    FILE *f = fopen(path.c_str(), "rb");
    if (f == nullptr)
        return missing;
    std::string out = read_stream(f);
    fclose(f);
    return out;
}

} // namespace zeltest

#endif
