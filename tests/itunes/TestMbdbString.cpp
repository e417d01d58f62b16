#include <gtest/gtest.h>

#include <stdexcept>

#include "MbdbString.h"

TEST(MbdbString, DefaultIsNone)
{
    const MbdbString s;
    EXPECT_EQ(s.length, 0xFFFF);
    EXPECT_TRUE(s.isNone());
    EXPECT_TRUE(s.data.isEmpty());
}

TEST(MbdbString, ToStringDecodesUpToTheFirstZeroByte)
{
    struct Case
    {
        quint16 length;
        QByteArray data;
        QString expected;
    };
    const Case cases[] = {
        {0xFFFF, {}, QString()},
        {0, {}, QString()},
        {3, "abc", QStringLiteral("abc")},
        {5, QByteArray("ab\0cd", 5), QStringLiteral("ab")},
        {1, QByteArray("\0", 1), QString()},
        {6, "Caf\xc3\xa9!", QString::fromUtf8("Caf\xc3\xa9!")},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.data.toHex().toStdString());
        MbdbString s;
        s.length = c.length;
        s.data = c.data;
        EXPECT_EQ(s.toString(), c.expected);
    }
}

TEST(MbdbString, SetDataTakesTheByteCountAsLength)
{
    for (const int n : {0, 1, 20, 0xFFFE}) {
        SCOPED_TRACE(n);
        MbdbString s;
        s.setData(QByteArray(n, 'x'));
        EXPECT_EQ(s.length, n);
        EXPECT_EQ(s.data.size(), n);
        EXPECT_FALSE(s.isNone());
    }
}

TEST(MbdbString, SetDataRefusesWhatCannotBeWritten)
{
    MbdbString s;
    s.setData("kept");
    EXPECT_THROW(s.setData(QByteArray(0xFFFF, 'x')), std::runtime_error);
    EXPECT_EQ(s.length, 4);
    EXPECT_EQ(s.data, "kept");
}
