#include <gtest/gtest.h>

#include <QTest>

#include "platform/ScrollBar.h"

using vistrel::ScrollBar;

TEST(ScrollBar, ArrowKeysStepAHorizontalBarTheWayTheyPoint) {
    ScrollBar bar(Qt::Horizontal);
    bar.setRange(0, 255);
    bar.setSingleStep(5);
    bar.setValue(128);
    QTest::keyClick(&bar, Qt::Key_Right);
    EXPECT_EQ(bar.value(), 133);
    QTest::keyClick(&bar, Qt::Key_Left);
    QTest::keyClick(&bar, Qt::Key_Left);
    EXPECT_EQ(bar.value(), 123);
    bar.setValue(255);
    QTest::keyClick(&bar, Qt::Key_Right);
    EXPECT_EQ(bar.value(), 255);
}

TEST(ScrollBar, ValueChangesOncePerStepAndNotWhileTheThumbIsDragged) {
    ScrollBar bar(Qt::Horizontal);
    bar.setRange(64, 1024);
    bar.setValue(256);
    EXPECT_FALSE(bar.hasTracking());
    int changes = 0;
    QObject::connect(&bar, &QScrollBar::valueChanged, [&changes] { ++changes; });
    bar.setSliderDown(true);
    bar.setSliderPosition(300);
    bar.setSliderPosition(400);
    EXPECT_EQ(changes, 0);
    bar.setSliderDown(false);
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(bar.value(), 400);
}
