#include <gtest/gtest.h>

#include <optional>

#include "MbdbRecord.h"

TEST(MbdbRecord, EmptyFileMeansNoSizeAndNoLinkTarget)
{
    struct Case
    {
        const char *name;
        quint64 size;
        std::optional<QByteArray> link;
        bool empty;
    };
    const Case cases[] = {
        {"folder", 0, std::nullopt, true},
        {"empty link target", 0, QByteArray(), true},
        {"link", 0, QByteArray("/var/mobile"), false},
        {"file", 1, std::nullopt, false},
        {"file above 4 GiB", 0x100000000ull, std::nullopt, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        MbdbRecord r;
        r.size = c.size;
        if (c.link)
            r.linkTarget.setData(*c.link);
        EXPECT_EQ(r.isEmptyFile(), c.empty);
    }
}
