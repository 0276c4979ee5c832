// In-memory streams for the table writers and filters: no file of the host is touched.
#ifndef ZEL_SERVICES_STREAM_HELPERS_H
#define ZEL_SERVICES_STREAM_HELPERS_H

#include "read_file.h"

#include <stdio.h>
#include <stdlib.h>

#include <fstream>
#include <functional>
#include <sstream>
#include <string>

inline std::string write_to_string(const std::function<void(FILE *)> &write)
{
    char *data = nullptr;
    size_t size = 0;
    FILE *out = open_memstream(&data, &size);
    write(out);
    fclose(out);
    std::string text(data, size);
    free(data);
    return text;
}

inline std::string filter_string(const std::string &input, const std::function<void(FILE *, FILE *)> &filter)
{
    std::string copy = input;
    FILE *in = fmemopen(copy.empty() ? nullptr : &copy[0], copy.size(), "r");
    if (copy.empty())
        in = fmemopen(nullptr, 1, "r");
    std::string text = write_to_string([&](FILE *out) { filter(in, out); });
    fclose(in);
    return text;
}

inline std::string golden(const std::string &name)
{
    return zeltest::read_file(std::string(ZS_GOLDEN_DIR) + "/" + name, "");
}

#endif
