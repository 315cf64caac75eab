#include <QApplication>

#include <gtest/gtest.h>

// One application object for every test; the platform is headless (offscreen).
int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
