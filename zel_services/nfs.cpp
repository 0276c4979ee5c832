// NFS export table: rebuilt from the disk shares, extended, or shrunk by one folder.
// Every entry opens its folder to the network of one interface.
#include "nfs_internal.h"

#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include "root_scan.h"
#include "share_list.h"
#include "zel_paths.h"
#include "zelmsg.h"

#define EXPORTS_NEW ZEL_EXPORTS_NEW
#define EXPORTS_COPY ZEL_EXPORTS_COPY
#define EXPORTFS_COMMAND "/usr/sbin/exportfs -r > /dev/null 2> /dev/null"

namespace {

const config_file exports = {EXPORTS_PATH, ZEL_EXPORTS_SAVED};
const config_command append_block = {"cat " EXPORTS_NEW " >> " EXPORTS_PATH, config_put::appends_temp, nullptr};
const config_command move_table = {"mv " EXPORTS_NEW " " EXPORTS_PATH, config_put::moves_temp, nullptr};

int read_interface(char *out, const char *ifname, unsigned long request)
{
    struct ifreq ifr;
    int result = -1;
    int fd = socket(AF_INET, SOCK_DGRAM, 0);

    if (fd >= 0) {
        memset(&ifr, 0, sizeof ifr);
        snprintf(ifr.ifr_name, sizeof ifr.ifr_name, "%s", ifname);
        ifr.ifr_addr.sa_family = AF_INET;
        if (ioctl(fd, request, &ifr) == 0)
            result = 0;
        close(fd);
    }
    if (result == 0)
        snprintf(out, IF_TEXT_SIZE, "%s", inet_ntoa(reinterpret_cast<struct sockaddr_in *>(&ifr.ifr_addr)->sin_addr));
    else
        strcpy(out, "#");
    return result;
}

const char *get_interface()
{
    char *wireless = get_var_mem("wireless");
    const char *ifname = (wireless == nullptr || wireless[0] == '0') ? "eth0" : "wlan0";
    free(wireless);
    return ifname;
}

} // namespace

int get_interface_addr(char *out, const char *ifname)
{
    return read_interface(out, ifname, SIOCGIFADDR);
}

int get_interface_netmask(char *out, const char *ifname)
{
    return read_interface(out, ifname, SIOCGIFNETMASK);
}

void compose_export_network(char *out, const char *addr, const char *netmask)
{
    char network[IF_TEXT_SIZE + 1];
    snprintf(network, sizeof network - 1, "%s", addr);
    char *dot = strrchr(network, '.');
    if (dot != nullptr)
        strcpy(dot + 1, "0");
    snprintf(out, 34, "%s/%s", network, netmask);
}

int get_export_network(char *out, const char *ifname)
{
    char addr[IF_TEXT_SIZE];
    char netmask[IF_TEXT_SIZE];
    memset(addr, 0, sizeof addr);
    memset(netmask, 0, sizeof netmask);
    if (get_interface_addr(addr, ifname) != 0 || get_interface_netmask(netmask, ifname) != 0) {
        strcpy(out, "*");
        return 0;
    }
    compose_export_network(out, addr, netmask);
    return 0;
}

// A blank ends the folder field, so "/My Disk" would export "/My" to a host called
// "Disk": such a path is written in double quotes, which exportfs reads as one field.
int write_export_entry(FILE *f, const char *name, const char *client)
{
    const char *quote = strchr(name, ' ') != nullptr ? "\"" : "";
    return fprintf(f, "%s/%s%s %s" EXPORT_OPTIONS "\n", quote, name, quote, client) < 0 ? -1 : 0;
}

bool export_entry_is(const char *line, const char *name)
{
    while (*line == ' ' || *line == '\t')
        line++;
    bool quoted = *line == '"';
    if (quoted)
        line++;
    if (*line != '/')
        return false;
    size_t len = strlen(name);
    if (strncmp(line + 1, name, len) != 0)
        return false;
    const char *end = line + 1 + len;
    // A folder inside it goes with the disk.
    if (*end == '/')
        return true;
    if (quoted && *end++ != '"')
        return false;
    return *end == '\0' || *end == ' ' || *end == '\t' || *end == '\n' || *end == '\r';
}

namespace {

bool drop_entry(const char *line, void *ctx)
{
    return export_entry_is(line, static_cast<const char *>(ctx));
}

} // namespace

void filter_exports(FILE *in, FILE *out, const char *name)
{
    filter_lines(in, out, drop_entry, const_cast<char *>(name));
}

namespace {

int write_reload_entry(FILE *out, const char *name, const void *client)
{
    return write_export_entry(out, name, static_cast<const char *>(client));
}

const root_config reload = {&exports,
                            EXPORTS_NEW,
                            "w",
                            &move_table,
                            ZS_PREFIX "Reload NFS share failed due to the failure on system call!",
                            nullptr,
                            write_reload_entry};

} // namespace

int reload_nfs_share(const char *ifname)
{
    char client[CLIENT_SPEC_SIZE];
    get_export_network(client, ifname);
    replace_from_root(reload, client);
    return 0;
}

namespace {

struct export_block {
    FILE *out;
    const char *client;
};

void add_export_step(const char *name, void *ctx)
{
    export_block *b = static_cast<export_block *>(ctx);
    fputc('\n', b->out);
    write_export_entry(b->out, name, b->client);
}

int fill_block(FILE *out, const void *ctx)
{
    char client[CLIENT_SPEC_SIZE];
    get_export_network(client, get_interface());
    export_block block = {out, client};
    return for_each_share_name(static_cast<const char *>(ctx), add_export_step, &block) < 0 ? -1 : 0;
}

int fill_without(FILE *out, const void *ctx)
{
    FILE *in = open_file(EXPORTS_COPY, "r");
    if (in == nullptr)
        return -1;
    filter_exports(in, out, static_cast<const char *>(ctx));
    fclose(in);
    return 0;
}

} // namespace

// The block is appended by the shell; a cut append is undone from the saved table.
int add_nfs_share(const char *list)
{
    if (recover_config(exports) != 0)
        return 0;
    if (replace_config(exports, EXPORTS_NEW, "w", fill_block, list, append_block) == 0)
        run_ignoring_status(EXPORTFS_COMMAND);
    return 0;
}

// Without a fresh copy of the table, a copy left by an earlier run would be put in
// its place.
int remove_nfs_share(const char *name)
{
    if (recover_config(exports) != 0 || prepare_temp(EXPORTS_COPY) != 0)
        return 0;
    if (system("cp " EXPORTS_PATH " " EXPORTS_COPY) != 0)
        return 0;
    if (replace_config(exports, EXPORTS_NEW, "w", fill_without, name, move_table) == 0) {
        run_ignoring_status(EXPORTFS_COMMAND);
        remove(EXPORTS_COPY);
    }
    return 0;
}
