// The shared folder's rule of zel_paths.h: the store and zel_services open a path
// inside ZEL_TMP_DIR only as a file of their own, and any other path as it is.
#include "zel_paths.h"

#include <gtest/gtest.h>

namespace {
TEST(ZelPaths, InTmpIsWhatLiesInsideTheFolder)
{
    const struct {
        const char *path;
        int in_tmp;
    } cases[] = {
        {ZEL_SETTINGS_FILE, 1},
        {ZEL_TMP_DIR "/a/b", 1},
        // The folder itself, and a name that merely begins like it.
        {ZEL_TMP_DIR, 0},
        {ZEL_TMP_DIR "x/setting.txt", 0},
        {"/var" ZEL_TMP_DIR "/setting.txt", 0},
        {ZEL_EXPORTS_FILE, 0},
        {"", 0},
    };
    for (const auto &c : cases)
        EXPECT_EQ(zel_in_tmp(c.path), c.in_tmp) << c.path;
}
} // namespace
