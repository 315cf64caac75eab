#include <QApplication>
#include <QLoggingCategory>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdio>

namespace {

QtMessageHandler standardHandler = nullptr;

// The headless platform warns about window operations it cannot do (raising a
// window, size hints); they are expected in tests and only hide real output.
void QuietMessages(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (message.startsWith("This plugin does not support")) return;
    if (standardHandler != nullptr)
        standardHandler(type, context, message);
    else
        std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, message)));
}

}  // namespace

// One application object for every test; the platform is headless (offscreen).
int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // No test reads or writes the user's own configuration: the remembered workspace, and
    // anything else a test or a program it starts keeps there, goes to a folder of its own.
    QTemporaryDir configuration;
    qputenv("XDG_CONFIG_HOME", configuration.path().toLocal8Bit());
    QStandardPaths::setTestModeEnabled(true);
    standardHandler = qInstallMessageHandler(QuietMessages);
    // The picture libraries' notes and a decoder worker's complaints (a call its
    // confinement refused) reach the test log.
    QLoggingCategory::setFilterRules(QStringLiteral("vistrel.decoding.messages=true"));
    QApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
