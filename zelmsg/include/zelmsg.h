/* zelmsg: the settings store, the flash settings partition, the service-request
 * queue and two diagnostics of the player's service programs.
 *
 * C-compatible: other programs of the player, written in C, link this library
 * and send service requests exactly as the programs of this system do.
 *
 * Two builds of the library share this header:
 *   libzelmsg.a         settings store with the settings lock, queue (zeldaemon, reset_zel)
 *   libzelmsg_nolock.a  settings store without lock, no queue (zel_services);
 *                       it alone carries get_dirty().
 */
#ifndef ZELMSG_H
#define ZELMSG_H

#include <sys/types.h>

#include "zel_paths.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- service-request queue (libzelmsg.a only) ---- */

/* The channel number is both the ftok project number and the message type word. */
typedef enum {
    SETUP_2_ZELD = 207
} ZELMTYPE;

struct my_msgbuf {
    long mtype;    /* the channel number on send */
    char mtext[1]; /* the request character; no terminator travels */
};

#define ZEL_QUEUE_DIR ZEL_BIN_DIR

/* ftok(ZEL_QUEUE_DIR, mtype): the firmware's bin folder.
 * -1 after perror("ftok"), for instance when the folder is missing. */
key_t get_setup_zel_key(ZELMTYPE mtype);

/* Queues the first character of str as one message of type mtype; msgflg is added
 * to the flags of the queue's open (it does not make the send non-blocking: a full
 * queue makes the caller wait).
 *  0  the message is on the queue
 * -1  ftok failed (perror "ftok"), the queue could not be opened (silent), or the
 *     send failed (perror "msgsnd") */
int addmsg(const char *str, ZELMTYPE mtype, int msgflg);

/* Takes the oldest message of any type off the queue without waiting.
 *  0  a request was taken: gotmsg holds its character and a NUL
 * -1  gotmsg untouched: no message waiting or the queue removed (silent); ftok
 *     failed (perror "ftok"); the queue could not be opened (silent); a message of
 *     no bytes (taken off, silent: no request); a message of two or more bytes
 *     (perror "msgrcv", taken off so that it blocks nothing); another receive
 *     error (perror "msgrcv") */
int getmsg(char *gotmsg, ZELMTYPE mtype, int msgflg);

/* ---- settings store ----
 * /tmp/setting.txt holds records "\nkey=value" and one NUL after the last. Every
 * operation loads the whole file into buffer_setting; every change rewrites it. */

#define SETTING_FILE ZEL_SETTINGS_FILE
#define SETTING_BUF_SIZE 65536
#define SETTING_KEYWORD_SIZE 1024
/* The longest key: "\nkey=" and its NUL fill the keyword buffer. */
#define SETTING_KEY_MAX (SETTING_KEYWORD_SIZE - 3)
/* The longest value get_var_mem hands out. */
#define SETTING_VALUE_MAX 1023
/* The longest text of a store: with its NUL, the file holds at most 65535 bytes. */
#define SETTING_TEXT_MAX (SETTING_BUF_SIZE - 2)

/* Per-process working buffer; the byte after the 65536 always holds NUL. */
extern char buffer_setting[SETTING_BUF_SIZE + 1];
/* "\nkey=" of the last search. */
extern char keyword_all[SETTING_KEYWORD_SIZE];
/* 1 once this process removed a setting or called write_var (also when the write
 * was refused or failed). */
extern char f_dirty;

/* Lower-level operations: no lock of their own. While this process holds the
 * settings lock they read and write the settings file through the lock's own
 * descriptor, so the lock stays held. */

/* Copies the file's first bytes, at most maxlen (none when maxlen <= 0), into
 * buffer; adds no terminator.
 *  0  done
 * -1  the file cannot be opened ("File open r error PATH\r\n" on stderr)
 * -2  it could not be read whole ("read error PATH\r\n") */
int read_file(const char *path, char *buffer, int maxlen);

/* Replaces the file's content with text and its NUL (creating the file). A text
 * that does not fit the file system leaves the file byte for byte as it was.
 *  strlen(text) + 1  done
 *  1  the file cannot be opened ("File open w error PATH\r\n")
 *  2  the text could not be written whole ("0150 write error PATH\r\n")
 * The codes collide: 1 is also the success of an empty text, 2 that of a
 * one-character text. A caller that writes at least one record ("\nk=", 4 bytes
 * with the NUL) can tell them apart; for shorter texts only stderr can. */
int write_file(const char *path, const char *text);

/* Loads the settings file and finds the key's first record.
 * A pointer into buffer_setting at the line feed that starts the record; NULL when
 * the file cannot be read (read_file's messages), the key has no record, or the key
 * holds a line feed or "=" or is longer than 1021 characters. */
char *find_var(const char *key);

/* Copies the key's value into dest (size bytes with its terminator).
 *  n           the value's length, dest NUL-terminated
 *  0           no record, file unreadable, or an empty value (the three collide)
 *  2147483647  the value does not fit: dest holds size - 1 characters and no
 *              terminator (nothing at all when size < 1) */
int get_var(char *dest, int size, const char *key);

/* Copies src up to NUL or delim into dest (size bytes with its terminator).
 *  n           the characters copied, dest NUL-terminated
 *  0           also when dest or src is NULL (collides with an empty copy)
 *  2147483647  cut at size - 1 characters, no terminator */
int strcpy_del2(char *dest, const char *src, int size, char delim);

/* Loads the file and removes the key's first record from buffer_setting only.
 *  1  removed (f_dirty set)
 *  0  no record, or the file could not be read (they collide) */
int remove_var_(const char *key);

/* Operations for the programs; the service programs' build takes the settings lock
 * in each. The configurator's build takes none to read; a change (write_var,
 * remove_var, save_commit) takes the same lock without waiting for long: after 10 s
 * of another process's locked section it is refused (-1), so that a write is never
 * mixed with another's. The settings file is used only as a regular file with one
 * link, owned by this user or root: a link, FIFO, directory or another user's file
 * at /tmp/setting.txt is refused like a missing file, with a perror line. */

/* A copy of the key's value that the caller releases with free(). It takes the
 * settings lock shared with other readers: every writer is still excluded. NULL
 * when the lock cannot be taken (the file is missing), the key has no record, its value is
 * empty or longer than 1023 characters, memory runs out, or the lock cannot be
 * given back. The cases collide. */
char *get_var_mem(const char *key);

/* Sets a setting: its first record goes, "\nkey=value" is appended (is_int 0: value
 * is a string; 1: it points to an int, stored as "%d").
 *  strlen(text) + 1  done: the file's new length (at least 4)
 *  -1  refused, file untouched: empty key; a key with a line feed, "=" or byte 0xFF,
 *      or longer than 1021 characters; NULL value; a text value with a line feed or
 *      byte 0xFF; a record that does not fit the 65534 characters of a store. Also:
 *      the lock cannot be taken or given back; the file could not be loaded whole
 *      (nothing is written). In the configurator's build a missing file is an
 *      empty store that this write creates.
 *   1  the file cannot be opened for writing (write_file's message)
 *   2  the text could not be written whole; the file is as it was */
int write_var(const char *key, const void *value, int is_int);
int write_str(const char *key, const char *value); /* write_var(key, value, 0) */
int write_int(const char *key, const int *value);  /* write_var(key, value, 1) */

/* Removes the key's first record and rewrites the file (also when there was none).
 *  1  removed
 *  0  no record
 * -1  the lock cannot be taken or given back; the file could not be loaded whole
 *     (left alone); the rewrite failed (write_file's message) */
int remove_var(const char *key);

/* The settings lock, libzelmsg.a only: an exclusive POSIX record lock over the whole
 * settings file, the lock lockf(fd, F_LOCK, 0) takes, so it excludes the lockf locks
 * of other programs on the file. It belongs to the process (a child forked inside
 * holds none), and any close of a descriptor of the file gives it back: inside a
 * section, reach the file only through this library.
 * get_lock:  0 taken (waits while another process holds it); -1 the file cannot be
 *            opened (missing), the lock was refused, or this process holds it.
 * release_lock:  0 given back; -1 not held, or the descriptor's close failed. */
int get_lock(void);
int release_lock(void);

/* libzelmsg_nolock.a only: f_dirty as 0 or 1. */
int get_dirty(void);

/* ---- flash settings partition ---- */

#define SETTING_DEVICE ZEL_SETTINGS_DEVICE
#define SETTING_UNLOCK_DEVICE ZEL_SETTINGS_UNLOCK_DEVICE
#define SETTING_IMAGE_SIZE 65536

/* Opens /dev/mtd1 read-write, whatever the path. A descriptor (0 is one), or a
 * negative result after perror("open"). */
int open_setting_device(const char *path);

/* Reads the image (65536 bytes) into buffer with one read.
 * The bytes read (fewer from a smaller partition); -1 when the device cannot be
 * opened (perror "open") or the read fails. */
int flash_read_setting_device(char *buffer);

/* Erases the whole partition, retrying a failed block 3 times on a reopened device.
 *  0  erased
 * -1  the device cannot be opened, or its geometry not read
 * -2  a block still failed after the retries */
int mtd_erase_setting_(const char *device);
int mtd_erase_setting(void); /* mtd_erase_setting_("/dev/mtd1") */

/* Programs zeros over the whole partition, 512 bytes at a time, without erasing.
 * The last write's result (512; 0 for a partition of size 0; -1 when that write
 * failed, which collides with:) -1 the device cannot be opened; -2 its geometry
 * cannot be read. */
int flash_write_0(const char *path);

/* Copies the file into the partition: erase, then one 65536-byte write of
 * buffer_setting (the file's bytes and what the buffer held after them); where the
 * partition has room, a spare copy too, written so that the last whole copy is never
 * erased first.
 *  65536  written, or the next boot reads these settings (also when a later step
 *         failed: the spare copy holds them)
 *  read_file's -1 or -2: flash untouched; the erase's -1 or -2: nothing written;
 *  -1 the device cannot be opened (collides with the others' -1); a short count or
 *  -1 when the write itself failed */
int flash_write_setting_device(const char *path);

/* Recreates /tmp/setting.txt from the image (an erased image gives an empty store);
 * whatever was planted in its place but a directory is replaced.
 *  1  the image was read (the file write's own outcome is not reported)
 *  0  the partition cannot be read ("error reading flash: [/dev/mtd1] size 010000"),
 *     the file untouched */
int init_flash_var(void);

/* flash_write_setting_device(SETTING_FILE) holding the settings lock: its result, or -1 when the lock cannot be taken or given
 * back (collides with its -1). */
int save_commit(void);

/* ---- diagnostics ---- */

/* Prints length bytes at addr as a hexadecimal and a character table to stdout;
 * the result of its last printf (1; negative when stdout fails). */
int dump(int line, const void *addr, int length);
/* c as a printable character: '.' for control bytes and 0xFF. */
int escape_control(int c);

#ifdef __cplusplus
}
#endif

#endif /* ZELMSG_H */
