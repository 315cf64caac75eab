#pragma once
// The desktop the window benchmarks run against: every modal question is answered at
// once, so nothing waits on a person, and the warnings are kept for the bench to check.
#include <QDialog>
#include <QDir>
#include <QString>

#include <optional>
#include <vector>

#include "platform/Desktop.h"

namespace bench {

class QuietDesktop : public vistrel::Desktop {
public:
    QString programFolder() override { return QDir::tempPath(); }
    bool fileExists(const QString&) override { return false; }
    bool openDocument(const QString&) override { return true; }
    void warningBox(QWidget*, const QString& text, const QString&) override { failures.push_back(text); }
    std::optional<QString> openFileDialog(QWidget*, const vistrel::OpenFileRequest&) override { return std::nullopt; }
    void showModal(QDialog&) override {}
    std::vector<QString> failures;
};

}  // namespace bench
