// Hostile files through the real load: each one ends in the failure message
// and the no-picture state, or in a picture of the size it holds; the program
// lives on, and its heap does not grow from one round of loads to the next.

#include <gtest/gtest.h>

#include <QDir>
#include <QLineEdit>

#include <malloc.h>

#include "app_support.h"
#include "hostile_corpus.h"

using namespace vistrel;
using testing_support::Load;
using testing_support::StartedMain;

namespace {

std::size_t HeapInUse() {
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
}

}  // namespace

TEST(HostileLoads, EachEndsInAFailureOrItsPictureAndTheHeapDoesNotGrow) {
    StartedMain w;
    const QDir folder = testing_support::HostileFolder();
    const QStringList names = testing_support::HostileFiles();
    ASSERT_GE(names.size(), 20) << "the corpus is missing";

    const auto round = [&] {
        for (const QString& name : names) {
            SCOPED_TRACE(name.toStdString());
            const QString path = folder.filePath(name);
            w.fake().warnings.clear();
            Load(*w, path);
            const std::optional<QSize> picture = testing_support::HostilePicture(name);
            if (!picture) {
                ASSERT_EQ(w.fake().warnings.size(), 1u);
                EXPECT_TRUE(w.fake().warnings[0].first.startsWith("Could not load " + path + "\n"));
                EXPECT_FALSE(w->model().loaded());
                EXPECT_TRUE(w->model().picture().pixels.empty());
            } else {
                EXPECT_TRUE(w.fake().warnings.empty());
                ASSERT_TRUE(w->model().loaded());
                EXPECT_EQ(QSize(static_cast<int>(w->model().picture().pixels.width()),
                                static_cast<int>(w->model().picture().pixels.height())),
                          *picture);
            }
        }
    };
    round();  // the first round loads the readers and fills the caches that last
    const std::size_t before = HeapInUse();
    constexpr int kRounds = 4;
    for (int i = 0; i < kRounds; ++i) round();
    const std::size_t after = HeapInUse();
    if (testing_support::kUnderAddressSanitizer) return;  // its leak checker covers the heap there
    // The allocator's caches and the metafile player's font tables move by some
    // kilobytes whatever is freed; a lost buffer or picture a load shows far
    // above that. Leaks of a few bytes a load are the leak checker's to find.
    constexpr std::size_t kSlackBytes = 256 * 1024;
    EXPECT_LE(after, before + kSlackBytes) << "grew by " << after - before << " bytes";
}
