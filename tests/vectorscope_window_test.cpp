// The vectorscope window: layout, zoom bar, readout, mouse handling.

#include <gtest/gtest.h>

#include <QScrollBar>
#include <QTest>

#include <memory>
#include <vector>

#include "support.h"
#include "platform/Input.h"
#include "vectorscope/frmVector.h"

namespace {

using korvex::UvPair;
using vistrel::frmVector;
using vistrel::Model;

// The histogram of a picture of `count` pixels of one colour that has the pair.
korvex::UvHistogram FlatHistogram(std::size_t count, UvPair pair) {
    korvex::Pixel colour = 0;
    while (colour <= 0xFFFFFF) {
        const UvPair found = korvex::PairOf(colour);
        if (found.u == pair.u && found.v == pair.v) break;
        ++colour;
    }
    EXPECT_LE(colour, 0xFFFFFFu) << "no colour has the pair";
    std::vector<korvex::Pixel> pixels(count, colour);
    return korvex::AnalysePixels(pixels);
}

class VectorscopeWindow : public ::testing::Test {
protected:
    void SetUp() override {
        window = std::make_unique<frmVector>(mod);
        window->focusMainWindow = [this] { ++focusCalls; };
    }

    void Load(UvPair pair) {
        vistrel::Picture picture;
        picture.histogram = FlatHistogram(10, pair);
        mod.Load(std::move(picture));  // the window plots it, as the model says
    }

    int LitPixels(int x0, int y0, int x1, int y1) const {
        int lit = 0;
        for (int y = y0; y <= y1; ++y)
            for (int x = x0; x <= x1; ++x) lit += window->surface().pixel(x, y) != 0;
        return lit;
    }
    // Non-black pixels where the zoom readout goes: from (2, 242) on.
    int ReadoutPixels() const { return LitPixels(0, 242, 47, 255); }
    // The band just above and left of the readout, which it must leave alone.
    int AroundReadout() const { return LitPixels(0, 228, 47, 241) + LitPixels(0, 242, 1, 255); }

    QImage Snapshot() const { return window->surface().image().copy(); }

    Model mod;
    std::unique_ptr<frmVector> window;
    int focusCalls = 0;
};

TEST_F(VectorscopeWindow, LayoutAndZoomBar) {
    EXPECT_EQ(window->size(), QSize(256, 266));
    EXPECT_EQ(window->pos(), QPoint(432, 519));
    EXPECT_TRUE(window->windowFlags().testFlag(Qt::Tool));
    EXPECT_TRUE(window->windowFlags().testFlag(Qt::FramelessWindowHint));
    QScrollBar* bar = window->findChild<QScrollBar*>("hscrZoom");
    ASSERT_EQ(bar, window->zoomBar());
    EXPECT_EQ(bar->geometry(), QRect(0, 256, 256, 10));
    EXPECT_EQ(bar->orientation(), Qt::Horizontal);
    EXPECT_EQ(bar->value(), vistrel::kDefaultZoom);
    EXPECT_FALSE(bar->hasTracking());
    EXPECT_FLOAT_EQ(window->zoomFactor(), 1.0f);
}

TEST_F(VectorscopeWindow, ZoomBeforeLoadRedrawsNothingAndFirstLoadUsesIt) {
    window->DrawGraticule();
    const QImage before = Snapshot();
    window->zoomBar()->setValue(512);
    EXPECT_EQ(Snapshot(), before);
    EXPECT_FLOAT_EQ(window->zoomFactor(), 1.0f);
    Load({10, -10});  // lands at (128 + 20, 127 + 20) at zoom 2
    EXPECT_FLOAT_EQ(window->zoomFactor(), 2.0f);
    EXPECT_EQ(window->surface().pixel(148, 147), 0xFFFFFFu);
    EXPECT_EQ(window->plotImage()[147 * 256 + 148], 0xFFFFFFu);
    EXPECT_GT(ReadoutPixels(), 0);
    EXPECT_EQ(AroundReadout(), 0);
}

TEST_F(VectorscopeWindow, ZoomChangeAfterLoadReplots) {
    Load({10, 0});
    EXPECT_EQ(window->surface().pixel(138, 127), 0xFFFFFFu);
    EXPECT_EQ(ReadoutPixels(), 0);
    window->zoomBar()->triggerAction(QAbstractSlider::SliderSingleStepSub);  // 252
    EXPECT_FLOAT_EQ(window->zoomFactor(), 252.0f / 256.0f);
    EXPECT_GT(ReadoutPixels(), 0);
    window->zoomBar()->triggerAction(QAbstractSlider::SliderPageStepAdd);  // 280
    EXPECT_EQ(window->zoomBar()->value(), 280);
    EXPECT_EQ(window->surface().pixel(139, 127), 0xFFFFFFu);  // 10 * 1.09375 = 10.9 -> 11
    window->zoomBar()->setValue(257);
    EXPECT_EQ(ReadoutPixels(), 0);  // the next plot replaces the readout
}

TEST_F(VectorscopeWindow, ShowPointsRemovesMarkersAndClearDrawingBlanks) {
    Load({0, 0});
    const QImage plotted = Snapshot();
    window->MarkProbe({0, 60}, 0x0000FF);
    EXPECT_NE(Snapshot(), plotted);
    window->ShowPoints();
    EXPECT_EQ(Snapshot(), plotted);
    window->ClearDrawing();
    for (int y = 0; y < 256; ++y)
        for (int x = 0; x < 256; ++x) ASSERT_EQ(window->surface().pixel(x, y), 0u);
}

TEST_F(VectorscopeWindow, RightReleaseReplotsOnlyWhileLocked) {
    Load({0, 0});
    const QImage plotted = Snapshot();
    window->MarkProbe({0, 60}, 0x0000FF);
    const QImage marked = Snapshot();
    QTest::mouseClick(window.get(), Qt::RightButton, {}, QPoint(50, 50));
    EXPECT_EQ(Snapshot(), marked);
    EXPECT_EQ(focusCalls, 0);
    mod.LockProbe(0, 0);
    QTest::mouseClick(window.get(), Qt::RightButton, {}, QPoint(50, 50));
    EXPECT_EQ(Snapshot(), plotted);
    EXPECT_EQ(focusCalls, 1);
    // Without a focus callback nothing breaks.
    window->focusMainWindow = nullptr;
    QTest::mouseClick(window.get(), Qt::RightButton, {}, QPoint(50, 50));
    EXPECT_FALSE(window->dragging());
}

TEST_F(VectorscopeWindow, DoubleClickResetsTheZoom) {
    Load({0, 0});
    window->MarkProbe({0, 60}, 0x0000FF);
    const QImage marked = Snapshot();
    QTest::mouseDClick(window.get(), Qt::LeftButton, {}, QPoint(50, 50));
    EXPECT_EQ(Snapshot(), marked);  // already at 256: no change, no redraw
    EXPECT_FALSE(window->dragging());

    window->zoomBar()->setValue(300);
    window->MarkProbe({0, 60}, 0x0000FF);
    QTest::mouseClick(window.get(), Qt::LeftButton, {}, QPoint(50, 50));
    QTest::mouseDClick(window.get(), Qt::LeftButton, {}, QPoint(50, 50));
    QTest::mouseRelease(window.get(), Qt::LeftButton, {}, QPoint(50, 50));
    EXPECT_EQ(window->zoomBar()->value(), 256);
    EXPECT_FLOAT_EQ(window->zoomFactor(), 1.0f);
    EXPECT_EQ(window->surface().pixel(128, 70), 0u);  // the marker is gone
    EXPECT_FALSE(window->dragging());
}

TEST_F(VectorscopeWindow, LeftDragMovesTheWindowByTheDistance) {
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    const QPoint start = window->pos();
    QTest::mouseMove(window.get(), QPoint(40, 40));  // no button: nothing moves
    EXPECT_EQ(window->pos(), start);
    QTest::mousePress(window.get(), Qt::LeftButton, {}, QPoint(10, 10));
    EXPECT_TRUE(window->dragging());
    QTest::mouseMove(window.get(), QPoint(30, 25));
    EXPECT_EQ(window->pos(), start + QPoint(20, 15));
    // The grabbed point stays under the pointer: the pointer is again at (10, 10).
    QTest::mouseMove(window.get(), QPoint(5, 12));
    EXPECT_EQ(window->pos(), start + QPoint(15, 17));
    QTest::mouseRelease(window.get(), Qt::LeftButton, {}, QPoint(10, 10));
    EXPECT_FALSE(window->dragging());
    window->Form_MouseMove(0, 0, 90.0f, 90.0f);
    EXPECT_EQ(window->pos(), start + QPoint(15, 17));
}

TEST_F(VectorscopeWindow, OtherButtonsDoNotStartADrag) {
    window->Form_MouseDown(vistrel::kRightButton, 0, 10.0f, 10.0f);
    EXPECT_FALSE(window->dragging());
    window->Form_MouseDown(vistrel::kLeftButton, 0, 10.0f, 10.0f);
    EXPECT_TRUE(window->dragging());
    window->Form_MouseUp(vistrel::kRightButton, 0, 10.0f, 10.0f);
    EXPECT_TRUE(window->dragging());
    window->Form_MouseUp(vistrel::kLeftButton, 0, 10.0f, 10.0f);
    EXPECT_FALSE(window->dragging());
}

}  // namespace
