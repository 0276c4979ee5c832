/* NFS export table: rebuilt from the disk shares, extended, or shrunk by one folder.
 * Every entry opens its folder to the network of one interface. */
#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include "zel_services.h"
#include "zelmsg.h"

#define EXPORTS_NEW "/tmp/exports"
#define EXPORTS_COPY "/tmp/exports.tmp"
#define EXPORTFS_COMMAND "/usr/sbin/exportfs -r > /dev/null 2> /dev/null"

const char *get_interface(void)
{
    char *wireless = get_var_mem("wireless");
    const char *ifname = (wireless == NULL || wireless[0] == '0') ? "eth0" : "wlan0";
    free(wireless);
    return ifname;
}

static int read_interface(char *out, const char *ifname, unsigned long request)
{
    struct ifreq ifr;
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0)
        goto fail;
    memset(&ifr, 0, sizeof ifr);
    snprintf(ifr.ifr_name, sizeof ifr.ifr_name, "%s", ifname);
    ifr.ifr_addr.sa_family = AF_INET;
    if (ioctl(fd, request, &ifr) < 0) {
        close(fd);
        goto fail;
    }
    close(fd);
    snprintf(out, IF_TEXT_SIZE, "%s", inet_ntoa(reinterpret_cast<struct sockaddr_in *>(&ifr.ifr_addr)->sin_addr));
    return 0;
fail:
    strcpy(out, "#");
    return -1;
}

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
    if (dot != NULL)
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

int write_export_entry(FILE *f, const char *name, const char *client)
{
    return fprintf(f, "/%s %s" EXPORT_OPTIONS "\n", name, client) < 0 ? -1 : 0;
}

int export_entry_is(const char *line, const char *name)
{
    while (*line == ' ' || *line == '\t')
        line++;
    if (*line != '/')
        return 0;
    size_t len = strlen(name);
    if (strncmp(line + 1, name, len) != 0)
        return 0;
    char end = line[1 + len];
    return end == '\0' || end == ' ' || end == '\t' || end == '\n' || end == '\r';
}

void filter_exports(FILE *in, FILE *out, const char *name)
{
    char line[LINE_SIZE];
    int ends_line = 1;
    int drop = 0;

    for (;;) {
        int at_start = ends_line;
        if (!read_line_piece(in, line, &ends_line))
            break;
        if (at_start)
            drop = export_entry_is(line, name);
        if (!drop)
            fputs(line, out);
    }
}

int reload_nfs_share(const char *ifname)
{
    if (list_root_folders() != 0) {
        fputs(ZS_PREFIX "Reload NFS share failed due to the failure on system call!", stderr);
        return 0;
    }
    FILE *list = fopen(SHARE_LIST_PATH, "r");
    FILE *out = fopen(EXPORTS_NEW, "w");
    if (list == NULL || out == NULL) {
        if (list != NULL)
            fclose(list);
        if (out != NULL)
            fclose(out);
        return 0;
    }

    char client[CLIENT_SPEC_SIZE];
    char line[LINE_SIZE];
    get_export_network(client, ifname);
    write_export_entry(out, "share", client);
    while (next_disk_share(list, line))
        write_export_entry(out, line, client);

    fclose(list);
    if (close_written_file(out) != 0)
        return 0;
    if (system("mv " EXPORTS_NEW " " EXPORTS_PATH) == 0)
        remove(SHARE_LIST_PATH);
    return 0;
}

struct export_block {
    FILE *out;
    const char *client;
};

static void add_export_step(const char *name, void *ctx)
{
    struct export_block *b = static_cast<struct export_block *>(ctx);
    fputc('\n', b->out);
    write_export_entry(b->out, name, b->client);
}

int add_nfs_share(const char *list)
{
    FILE *out = fopen(EXPORTS_NEW, "w");
    if (out == NULL)
        return 0;

    char client[CLIENT_SPEC_SIZE];
    get_export_network(client, get_interface());
    struct export_block block = {out, client};
    for_each_share_name(list, add_export_step, &block);

    if (close_written_file(out) != 0)
        return 0;
    if (system("cat " EXPORTS_NEW " >> " EXPORTS_PATH) == 0) {
        run_ignoring_status(EXPORTFS_COMMAND);
        remove(EXPORTS_NEW);
    }
    return 0;
}

/* Without a fresh copy of the table, a copy left by an earlier run would be put in
 * its place. */
int remove_nfs_share(const char *name)
{
    if (system("cp " EXPORTS_PATH " " EXPORTS_COPY) != 0)
        return 0;
    FILE *out = fopen(EXPORTS_NEW, "w");
    if (out == NULL)
        return 0;
    FILE *in = fopen(EXPORTS_COPY, "r");
    if (in == NULL) {
        fclose(out);
        return 0;
    }

    filter_exports(in, out, name);

    fclose(in);
    if (close_written_file(out) != 0)
        return 0;
    if (system("mv " EXPORTS_NEW " " EXPORTS_PATH) == 0) {
        run_ignoring_status(EXPORTFS_COMMAND);
        remove(EXPORTS_COPY);
    }
    return 0;
}
