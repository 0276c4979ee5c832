// zelctl's look at the partition: what a boot would read, in a buffer of its own, so
// that the settings a process holds in buffer_setting stay as they are.
#include "zelmsg.h"
#include "zelmsg_tool.h"
#include "flash_internal.h"

namespace {
char image[SETTING_BUF_SIZE + 1];
} // namespace

int zelmsg_read_flash_report(zelmsg_flash_report *report)
{
    int n = flash_read_setting_device(image);
    if (n <= 0)
        return -1;
    bool restore = false;
    zelmsg::resolve_image(image, n, *report, &restore);
    report->text = image + zelmsg::reader_text(image);
    return 0;
}
