// A whole load of a 24-megapixel JPEG through the main window, beside Qt's
// bare decode of the same file, and the load's peak memory.

#include <benchmark/benchmark.h>

#include <QDialog>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>
#include <QLineEdit>

#include <fstream>
#include <string>

#include "app/frmMain.h"
#include "platform/Desktop.h"

namespace {

constexpr int kWidth = 6000;
constexpr int kHeight = 4000;

// A photograph-like picture: smooth gradients with mild texture, written once.
const QString& Picture() {
    static const QString path = [] {
        const QString file = "/tmp/vistrel_bench_load_24mp.jpg";
        if (QFile::exists(file)) return file;
        QImage image(kWidth, kHeight, QImage::Format_RGB32);
        for (int y = 0; y < kHeight; ++y) {
            auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
            for (int x = 0; x < kWidth; ++x) {
                const int texture = ((x * 31 + y * 17) % 23) - 11;
                row[x] = qRgb(std::clamp(x * 255 / kWidth + texture, 0, 255), std::clamp(y * 255 / kHeight + texture, 0, 255),
                              std::clamp((x + y) * 255 / (kWidth + kHeight) - texture, 0, 255));
            }
        }
        QImageWriter writer(file, "jpeg");
        writer.setQuality(90);
        if (!writer.write(image)) qFatal("cannot write %s", qPrintable(file));
        return file;
    }();
    return path;
}

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

void BM_BareDecodeJpeg24MP(benchmark::State& state) {
    const QString& file = Picture();
    for (auto _ : state) {
        QImageReader reader(file);
        QImage image = reader.read();
        if (image.isNull()) state.SkipWithError("decode failed");
        benchmark::DoNotOptimize(image.constBits());
    }
}
BENCHMARK(BM_BareDecodeJpeg24MP)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

void BM_LoadPictureFileJpeg24MP(benchmark::State& state) {
    const QString& file = Picture();
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
        window.modScope.PicChroma = {};
        const std::int64_t before = StatusKiB("VmRSS:");
        std::ofstream("/proc/self/clear_refs") << "5";
        window.LoadPictureFile();
        const std::int64_t peak = StatusKiB("VmHWM:");
        const double pixels = double(kWidth) * kHeight;
        state.counters["peak_MiB"] = double(peak - before) / 1024.0;
        state.counters["peak_B_per_px"] = double(peak - before) * 1024.0 / pixels;
    }
    vistrel::setDesktop(nullptr);
}
BENCHMARK(BM_LoadPictureFileJpeg24MP)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

}  // namespace
