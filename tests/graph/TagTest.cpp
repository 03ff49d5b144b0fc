#include "Tag.h"

#include <gtest/gtest.h>

#include <QObject>

namespace {

TEST(GraphTag, IsZeroUntilSetAndKeepsWhatWasSet) {
    QObject object;
    EXPECT_EQ(tagOf(&object), 0);
    for (int value : {3, -1, 0, 2}) {
        setTag(&object, value);
        EXPECT_EQ(tagOf(&object), value);
    }
}

TEST(GraphTag, NullObjectsAndForeignValuesReadAsZero) {
    EXPECT_EQ(tagOf(nullptr), 0);
    setTag(nullptr, 5);  // must not crash

    QObject object;
    object.setProperty("Tag", QStringLiteral("not a number"));
    EXPECT_EQ(tagOf(&object), 0);
}

}  // namespace
