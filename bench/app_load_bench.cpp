// A whole load of a 24-megapixel JPEG through the main window, and the load's
// peak memory. Qt's bare decode of the same file is among the decode benchmarks.

#include <benchmark/benchmark.h>

#include <QDialog>
#include <QLineEdit>

#include <fstream>
#include <string>

#include "app/frmMain.h"
#include "pictures.h"
#include "platform/Desktop.h"

namespace {

constexpr double kPixels = 6000.0 * 4000.0;

// Answers every modal question at once, so nothing waits on a person.
class QuietDesktop : public vistrel::Desktop {
public:
    QString programFolder() override { return "/tmp"; }
    bool fileExists(const QString&) override { return false; }
    void openDocument(const QString&) override {}
    void warningBox(QWidget*, const QString& text, const QString&) override { failures.push_back(text); }
    std::optional<QString> openFileDialog(QWidget*, const vistrel::OpenFileRequest&) override { return std::nullopt; }
    void showModal(QDialog&) override {}
    std::vector<QString> failures;
};

std::int64_t StatusKiB(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(field, 0) == 0) return std::stoll(line.substr(std::string(field).size()));
    return -1;
}

void BM_LoadPictureFileJpeg24MP(benchmark::State& state) {
    const QString& file = bench::Jpeg24MP();
    QuietDesktop quiet;
    vistrel::setDesktop(&quiet);
    {
        vistrel::frmMain window;
        window.start();
        window.txtImageFile->setText(file);
        for (auto _ : state) {
            window.LoadPictureFile();
            if (!window.modScope.PicLoaded) state.SkipWithError("load failed");
        }

        // Peak memory of one load, from an emptied window: the kernel's high-water
        // mark is reset first (writing 5 to clear_refs), then read after the load.
        window.cmdReset_Click();
        window.modScope.PicPixels = {};
        window.modScope.PicHistogram.Clear();
        const std::int64_t before = StatusKiB("VmRSS:");
        std::ofstream("/proc/self/clear_refs") << "5";
        window.LoadPictureFile();
        const std::int64_t peak = StatusKiB("VmHWM:");
        state.counters["peak_MiB"] = double(peak - before) / 1024.0;
        state.counters["peak_B_per_px"] = double(peak - before) * 1024.0 / kPixels;
    }
    vistrel::setDesktop(nullptr);
}
BENCHMARK(BM_LoadPictureFileJpeg24MP)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

}  // namespace
