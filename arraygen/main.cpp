// arraygen IN.xml [OUT.php]: without an output path the PHP goes to standard output.
#include <cstdio>

#include "arraygen.h"

int main(int argc, char **argv)
{
    if (argc < 2) {
        fputs("usage: arraygen IN.xml [OUT.php]\n", stderr);
        return 2;
    }
    bool noMemory;
    bool writeFailed;
    {
        arraygen conv;
        conv.setOutputFile(argc > 2 ? argv[2] : nullptr);
        conv.processFile(argv[1]);
        noMemory = conv.outOfMemory();
        writeFailed = conv.outputFailed();
    }
    if (noMemory)
        fputs("arraygen: out of memory, output cut short\n", stderr);
    if (writeFailed)
        fputs("arraygen: cannot write the output\n", stderr);
    return noMemory || writeFailed ? 1 : 0;
}
