// The sizes of the texts zel_services handles, and the prefix of its messages.
#ifndef ZEL_SERVICES_TEXT_SIZES_H
#define ZEL_SERVICES_TEXT_SIZES_H

#define ZS_PREFIX "[zel_services] "

enum {
    CMD_TEXT_SIZE = 20,    // command name: at most 19 characters
    OPT_TEXT_SIZE = 256,   // option text: at most 255 characters
    SHARE_NAME_SIZE = 50,  // one share name: at most 49 characters
    LINE_SIZE = 256,       // lines of the listing and the tables: read 254 at a time
    COMMAND_SIZE = 256,    // shell command lines
    CLIENT_SPEC_SIZE = 50, // the clients of an export ("net/mask"), composed within 34
    IF_TEXT_SIZE = 16      // dotted address or netmask
};

#endif // ZEL_SERVICES_TEXT_SIZES_H
