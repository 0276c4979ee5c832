// The settings store against a model of its records, operation by operation.
//
// Model: the text before the first line feed (no record), then the segments
// between line feeds. A segment's key is what comes before its first "=", its value
// what follows; a segment without "=" is no record. A read finds the first segment
// of the key; a write drops that segment and appends "\nkey=value"; a refused
// operation changes nothing. After every operation the results and the file's bytes
// must match.
//
// Input: a starting file (raw bytes, then records from the alphabets below), then
// operations of three bytes each: operation, key, value or size.
#include "read_file.h"
#include "zelmsg.h"

#include <limits.h>
#include <sched.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace {
constexpr size_t kMaxText = 65534;
constexpr size_t kMaxKey = 1021;
constexpr int kOverflow = INT_MAX;

std::vector<std::string> keys;
std::vector<std::string> values; // the last one stands for a null pointer
const int kSizes[] = {0, 1, 2, 4, 8, 1023, 1024, 1025, 65536, -1};
const int kInts[] = {0, 1, -5, 42, INT_MIN, INT_MAX, 1000000, -1};

void build_alphabets()
{
    keys = {"a",
            "b",
            "ab",
            "ba",
            "upnp",
            "a b",
            "\xff",
            std::string(kMaxKey, 'k'),
            std::string(kMaxKey + 1, 'k'),
            "",
            "=",
            "\n",
            "a=",
            "=a",
            "a\nb",
            "b=1\na",
            "a=1\nb",
            "\nb",
            "b\n"};
    values = {"",
              "1",
              "0",
              "=",
              "a=b",
              "\n",
              "x\ny",
              "-5",
              "\xff",
              "\r",
              std::string(1022, 'v'),
              std::string(1023, 'v'),
              std::string(1024, 'v'),
              std::string(30000, 'w'),
              "<null>"};
}

// The store's file is fixed at /tmp/setting.txt: the fuzzer gets a /tmp of its own.
// The folders under /tmp that it was handed (corpus, artifacts) stay reachable.
void private_tmp(int argc, char **argv)
{
    if (unshare(CLONE_NEWNS) != 0) {
        perror("unshare (run as root)");
        abort();
    }
    // Opened in the new namespace: only its mounts can be bound there.
    int old_tmp = open("/tmp", O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (old_tmp < 0 || mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        mount("storefuzz", "/tmp", "tmpfs", 0, nullptr) != 0) {
        perror("mount /tmp");
        abort();
    }
    for (int i = 1; i < argc; ++i) {
        std::string path = argv[i];
        if (path.compare(0, 17, "-artifact_prefix=") == 0)
            path.erase(0, 17);
        if (path.compare(0, 5, "/tmp/") != 0)
            continue;
        std::string top = path.substr(5, path.find('/', 5) - 5);
        std::string from = "/proc/self/fd/" + std::to_string(old_tmp) + "/" + top;
        std::string to = "/tmp/" + top;
        struct stat st;
        if (top.empty() || stat(from.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || access(to.c_str(), F_OK) == 0)
            continue;
        if (mkdir(to.c_str(), 0700) != 0 || mount(from.c_str(), to.c_str(), nullptr, MS_BIND | MS_REC, nullptr) != 0) {
            perror(to.c_str());
            abort();
        }
    }
    close(old_tmp);
}

struct Model {
    bool exists = true;
    std::string head;
    std::vector<std::string> segs;
    std::string file; // the file's bytes
    bool dirty = false;

    std::string text() const
    {
        std::string t = head;
        for (const std::string &s : segs)
            t += "\n" + s;
        return t;
    }
    void rewrite() { file = text() + std::string(1, '\0'); }

    // Keys with a line feed or "=" name no record; a longer key than the pattern
    // buffer takes is no key.
    static bool readable(const std::string &k)
    {
        return k.size() <= kMaxKey && k.find_first_of("\n=") == std::string::npos;
    }
    // A byte 0xFF is never written: a boot from flash would drop the records before it.
    static bool writable(const std::string &k)
    {
        return !k.empty() && readable(k) && k.find('\xff') == std::string::npos;
    }

    int find(const std::string &k) const
    {
        if (!exists || !readable(k))
            return -1;
        for (size_t i = 0; i < segs.size(); ++i)
            if (segs[i].compare(0, k.size() + 1, k + "=") == 0)
                return static_cast<int>(i);
        return -1;
    }
    const std::string *value(const std::string &k) const
    {
        static std::string v;
        int i = find(k);
        if (i < 0)
            return nullptr;
        v = segs[static_cast<size_t>(i)].substr(k.size() + 1);
        return &v;
    }
    int remove(const std::string &k)
    {
        if (!exists)
            return -1;
        int i = find(k);
        if (i >= 0) {
            segs.erase(segs.begin() + i);
            dirty = true;
        }
        rewrite();
        return i >= 0;
    }
    // Every write_var marks the settings changed, also one that is refused.
    int write(const std::string &k, const std::string *v)
    {
        dirty = true;
        if (!writable(k) || v == nullptr || v->find_first_of("\n\xff") != std::string::npos || !exists)
            return -1;
        std::vector<std::string> saved = segs;
        int i = find(k);
        if (i >= 0)
            segs.erase(segs.begin() + i);
        segs.push_back(k + "=" + *v);
        std::string t = text();
        if (t.size() > kMaxText) {
            segs = saved;
            return -1;
        }
        rewrite();
        return static_cast<int>(t.size() + 1);
    }
};

std::string file_bytes()
{
    return zeltest::read_file(SETTING_FILE);
}

void put_file(const std::string &bytes)
{
    FILE *f = fopen(SETTING_FILE, "wb");
    if (f == nullptr || fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size())
        abort();
    fclose(f);
}

[[noreturn]] void mismatch(int step, const char *what, long got, long want)
{
    fprintf(stderr, "store_fuzz: step %d: %s: store %ld, model %ld\n", step, what, got, want);
    abort();
}

// Splits a starting text into the model's head and segments.
void load_model(Model &m, const std::string &t)
{
    size_t lf = t.find('\n');
    m.head = t.substr(0, lf);
    m.segs.clear();
    while (lf != std::string::npos) {
        size_t next = t.find('\n', lf + 1);
        m.segs.push_back(t.substr(lf + 1, next == std::string::npos ? std::string::npos : next - lf - 1));
        lf = next;
    }
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    private_tmp(*argc, *argv);
    build_alphabets();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2)
        return 0;
    // Starting file: raw bytes (no NUL inside), then alphabet records while they fit.
    size_t raw = data[0] % 64;
    size_t nrec = data[1] % 8;
    data += 2;
    size -= 2;
    if (raw > size)
        raw = size;
    std::string start(reinterpret_cast<const char *>(data), raw);
    for (char &c : start)
        if (c == '\0')
            c = '\n';
    data += raw;
    size -= raw;
    for (size_t i = 0; i < nrec && size >= 2; ++i, data += 2, size -= 2) {
        const std::string &k = keys[data[0] % keys.size()];
        const std::string &v = values[data[1] % (values.size() - 1)];
        std::string rec = "\n" + k + "=" + v;
        if (start.size() + rec.size() <= kMaxText)
            start += rec;
    }
    Model m;
    load_model(m, start);
    m.file = start + std::string(1, '\0');
    put_file(m.file);
    f_dirty = 0;

    for (int step = 0; size >= 3; ++step, data += 3, size -= 3) {
        const std::string &k = keys[data[1] % keys.size()];
        size_t vi = data[2] % values.size();
        const std::string *v = vi + 1 == values.size() ? nullptr : &values[vi];
        switch (data[0] % 8) {
        case 0: {
            int got = write_str(k.c_str(), v ? v->c_str() : nullptr);
            int want = m.write(k, v);
            if (got != want)
                mismatch(step, "write_str", got, want);
            break;
        }
        case 1: {
            int n = kInts[data[2] % (sizeof kInts / sizeof kInts[0])];
            std::string text = std::to_string(n);
            int got = write_int(k.c_str(), &n);
            int want = m.write(k, &text);
            if (got != want)
                mismatch(step, "write_int", got, want);
            break;
        }
        case 2: {
            int got = remove_var(k.c_str());
            int want = m.remove(k);
            if (got != want)
                mismatch(step, "remove_var", got, want);
            break;
        }
        case 3: {
            char *got = get_var_mem(k.c_str());
            const std::string *want = m.value(k);
            // Empty and too long for the 1024-byte buffer read as absent.
            if (want != nullptr && (want->empty() || want->size() > 1023))
                want = nullptr;
            if ((got == nullptr) != (want == nullptr) || (got != nullptr && *want != got))
                mismatch(step, "get_var_mem", got ? static_cast<long>(strlen(got)) : -1,
                         want ? static_cast<long>(want->size()) : -1);
            free(got);
            break;
        }
        case 4: {
            int dsize = kSizes[data[2] % (sizeof kSizes / sizeof kSizes[0])];
            size_t alloc = dsize > 0 ? static_cast<size_t>(dsize) : 0;
            // The destination ends where the allocation ends, so that a byte written
            // past it is caught (also for size 0).
            char *block = static_cast<char *>(malloc(alloc + 16));
            if (block == nullptr)
                abort();
            char *dest = block + 16;
            memset(dest, 'Z', alloc);
            int got = get_var(dest, dsize, k.c_str());
            const std::string *want = m.value(k);
            int want_rc = 0;
            if (want != nullptr)
                want_rc = static_cast<long>(want->size()) > static_cast<long>(dsize) - 1
                              ? kOverflow
                              : static_cast<int>(want->size());
            if (want != nullptr && want->empty())
                want_rc = 0;
            if (got != want_rc)
                mismatch(step, "get_var", got, want_rc);
            if (want != nullptr && dsize > 0) {
                size_t copied = got == kOverflow ? alloc - 1 : want->size();
                if (memcmp(dest, want->data(), copied) != 0 || (got != kOverflow && dest[copied] != '\0'))
                    mismatch(step, "get_var copy", static_cast<long>(copied), dsize);
            }
            free(block);
            break;
        }
        case 5:
            unlink(SETTING_FILE);
            m.exists = false;
            m.file = "<missing>";
            break;
        case 6:
            put_file(std::string(1, '\0'));
            m.exists = true;
            m.head.clear();
            m.segs.clear();
            m.file = std::string(1, '\0');
            break;
        default: {
            // A locked section that reads nothing must leave the lock free.
            int got = get_lock();
            int want = m.exists ? 0 : -1;
            if (got == 0 && release_lock() != 0)
                mismatch(step, "release_lock", -1, 0);
            if (got != want)
                mismatch(step, "get_lock", got, want);
            break;
        }
        }
        if (file_bytes() != m.file)
            mismatch(step, "file bytes", static_cast<long>(file_bytes().size()), static_cast<long>(m.file.size()));
        if (f_dirty != m.dirty)
            mismatch(step, "f_dirty", f_dirty, m.dirty);
    }
    return 0;
}
