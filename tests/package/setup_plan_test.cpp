#include <gtest/gtest.h>
#include "app/setup/shortcut_plan.h"

TEST(ShortcutPlan, NameAndFolderFollowTheStoredConfiguration)
{
    struct Row { int n; setup::StoredConfig stored; const char* sendTo; const char* expected; };
    const Row rows[] = {
        {3, {"", ""}, "C:\\SendTo", "C:\\base\\FTP - Upload 3.lnk"},
        {3, {"Bilder", "0"}, "C:\\SendTo", "C:\\base\\FTP - Bilder.lnk"},
        {3, {"Bilder", "1"}, "C:\\SendTo", "C:\\SendTo\\FTP - Bilder.lnk"},
        {10, {"", "1"}, "C:\\SendTo", "C:\\SendTo\\FTP - Upload 10.lnk"},
        // Without a Send-To folder the shortcut stays in the base folder.
        {2, {"x", "1"}, "", "C:\\base\\FTP - x.lnk"},
    };
    for (const Row& r : rows)
        EXPECT_EQ(setup::shortcutPath(r.n, r.stored, "C:\\base\\", r.sendTo), r.expected) << r.expected;
}
