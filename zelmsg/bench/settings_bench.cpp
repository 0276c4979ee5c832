// Cost of the store's operations beside the floor its format sets: every operation
// reads the whole file, every change rewrites it whole. Run through
// testsupport/private_root.sh (it works on /tmp/setting.txt and /dev/mtd1).
#include "zelmsg.h"

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

namespace {
// About 7.8 KB with 300 records, or 65,000 bytes (near the 65,535 a store may hold)
// with 2500 records.
std::string make_store(int records)
{
    std::string text;
    char rec[64];
    for (int i = 0; i < records; ++i) {
        snprintf(rec, sizeof rec, "\nsetting_%04d=value-%06d", i, i * 7);
        text += rec;
    }
    return text;
}

void put_file(const std::string &text)
{
    FILE *f = fopen(SETTING_FILE, "wb");
    fwrite(text.c_str(), 1, text.size() + 1, f);
    fclose(f);
}

const char *middle_key(int records)
{
    static char key[32];
    snprintf(key, sizeof key, "setting_%04d", records / 2);
    return key;
}

// The floor: read the file whole; for changes, also rewrite it whole in place.
void floor_io(bool rewrite)
{
    static char buf[SETTING_BUF_SIZE + 1];
    int fd = open(SETTING_FILE, rewrite ? O_RDWR : O_RDONLY);
    ssize_t n = read(fd, buf, SETTING_BUF_SIZE);
    benchmark::DoNotOptimize(buf);
    if (rewrite && n > 0)
        benchmark::DoNotOptimize(pwrite(fd, buf, static_cast<size_t>(n), 0));
    close(fd);
}

void BM_floor_read(benchmark::State &state)
{
    put_file(make_store(static_cast<int>(state.range(0))));
    for (auto _ : state)
        floor_io(false);
}

// The least any locked read of a file in /tmp costs: the floor, a shared lock taken
// (and given back by the close) and one status call to see whose file it is.
void BM_floor_locked_read(benchmark::State &state)
{
    put_file(make_store(static_cast<int>(state.range(0))));
    static char buf[SETTING_BUF_SIZE + 1];
    for (auto _ : state) {
        int fd = open(SETTING_FILE, O_RDONLY);
        struct flock fl = {};
        fl.l_type = F_RDLCK;
        fl.l_whence = SEEK_SET;
        benchmark::DoNotOptimize(fcntl(fd, F_SETLK, &fl));
        struct stat st;
        benchmark::DoNotOptimize(fstat(fd, &st));
        benchmark::DoNotOptimize(read(fd, buf, SETTING_BUF_SIZE));
        close(fd);
    }
}

void BM_floor_read_rewrite(benchmark::State &state)
{
    put_file(make_store(static_cast<int>(state.range(0))));
    for (auto _ : state)
        floor_io(true);
}

// Removals take 20 records, one per iteration, before the file is put back: a
// restore before every removal would cost more than the removal. Returns this
// iteration's place in its batch; `used` counts the batch's iterations so far.
constexpr int kBatch = 20;
int batch_slot(benchmark::State &state, const std::string &text, int &used)
{
    if (used == kBatch) {
        state.PauseTiming();
        put_file(text);
        used = 0;
        state.ResumeTiming();
    }
    return used++;
}

// A removal shortens the file: the floor of a rewrite that does, with the same
// restores as BM_remove_var.
void BM_floor_read_shorten(benchmark::State &state)
{
    const std::string text = make_store(static_cast<int>(state.range(0)));
    static char buf[SETTING_BUF_SIZE + 1];
    put_file(text);
    int used = 0;
    for (auto _ : state) {
        batch_slot(state, text, used);
        int fd = open(SETTING_FILE, O_RDWR);
        ssize_t n = read(fd, buf, SETTING_BUF_SIZE);
        // A record is 26 bytes long.
        if (n > 26) {
            benchmark::DoNotOptimize(pwrite(fd, buf, static_cast<size_t>(n - 26), 0));
            benchmark::DoNotOptimize(ftruncate(fd, n - 26));
        }
        close(fd);
    }
}

void BM_get_var_mem(benchmark::State &state)
{
    int records = static_cast<int>(state.range(0));
    put_file(make_store(records));
    const char *key = middle_key(records);
    for (auto _ : state) {
        char *v = get_var_mem(key);
        benchmark::DoNotOptimize(v);
        free(v);
    }
}

void BM_write_str(benchmark::State &state)
{
    int records = static_cast<int>(state.range(0));
    put_file(make_store(records));
    // The same key and length each time: the store keeps its size.
    const char *key = middle_key(records);
    for (auto _ : state)
        if (write_str(key, "value-999999") <= 2)
            state.SkipWithError("write_str failed");
}

// Removes 20 records around the middle, in batches (batch_slot).
void BM_remove_var(benchmark::State &state)
{
    int records = static_cast<int>(state.range(0));
    const std::string text = make_store(records);
    char keys[kBatch][32];
    for (int k = 0; k < kBatch; ++k)
        snprintf(keys[k], sizeof keys[k], "setting_%04d", records / 2 + k);
    put_file(text);
    int used = 0;
    for (auto _ : state) {
        if (remove_var(keys[batch_slot(state, text, used)]) != 1)
            state.SkipWithError("remove_var failed");
    }
}

// save_commit on the emulated 128 KiB partition, beside what the emulated driver
// must do at the least: read the file, erase 128 KiB, write the 64 KiB image.
void make_partition()
{
    std::string ff(size_t{2} * SETTING_IMAGE_SIZE, '\xff');
    FILE *f = fopen(SETTING_DEVICE, "wb");
    fwrite(ff.data(), 1, ff.size(), f);
    fclose(f);
}

void BM_save_commit(benchmark::State &state)
{
    put_file(make_store(static_cast<int>(state.range(0))));
    make_partition();
    for (auto _ : state)
        if (save_commit() != SETTING_IMAGE_SIZE)
            state.SkipWithError("save_commit failed");
}

void BM_floor_commit(benchmark::State &state)
{
    put_file(make_store(static_cast<int>(state.range(0))));
    make_partition();
    static char ff[2 * SETTING_IMAGE_SIZE];
    memset(ff, 0xff, sizeof ff);
    for (auto _ : state) {
        floor_io(false);
        int fd = open(SETTING_DEVICE, O_RDWR);
        benchmark::DoNotOptimize(pwrite(fd, ff, sizeof ff, 0));
        benchmark::DoNotOptimize(pwrite(fd, buffer_setting, SETTING_IMAGE_SIZE, 0));
        close(fd);
    }
}

BENCHMARK(BM_floor_read)->Arg(300)->Arg(2500);
BENCHMARK(BM_floor_locked_read)->Arg(300)->Arg(2500);
BENCHMARK(BM_get_var_mem)->Arg(300)->Arg(2500);
BENCHMARK(BM_floor_read_rewrite)->Arg(300)->Arg(2500);
BENCHMARK(BM_write_str)->Arg(300)->Arg(2500);
BENCHMARK(BM_remove_var)->Arg(300)->Arg(2500);
BENCHMARK(BM_floor_read_shorten)->Arg(300)->Arg(2500);
BENCHMARK(BM_floor_commit)->Arg(300);
BENCHMARK(BM_save_commit)->Arg(300);
} // namespace

int main(int argc, char **argv)
{
    const char *v = getenv("ZEL_PRIVATE_ROOT");
    if (!v || v[0] != '1') {
        fprintf(stderr, "refusing to run: start me through testsupport/private_root.sh\n");
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
