// The workspace's two layouts: the instruments as panels of the one window, where the
// picture view and the instruments grow with their room, or as windows of their own.

#include <QAction>
#include <QCheckBox>
#include <QDockWidget>
#include <QGuiApplication>
#include <QScrollBar>
#include <QStatusBar>
#include <QStyle>
#include <QMenuBar>
#include <QTimer>

#include <algorithm>

#include "app/frmMain.h"
#include "chromaticity/frmChromaticity.h"
#include "rawhistogram/frmRawHistogram.h"
#include "histogram/frmHistogram.h"
#include "linescope/frmScope.h"
#include "platform/Instrument.h"
#include "vectorscope/frmVector.h"
#include "view/ImageView.h"

namespace vistrel {

namespace {

// The picture view's room in the client area starts at the design view's corner.
constexpr int kViewLeft = 16;
constexpr int kViewTop = 15;
// The one window's first size: room for the design's client area over the three
// instruments side by side at x1 (420 + 256 + 264 pixels), with their panels' title
// bars and the gaps between them.
constexpr QSize kOneWindowSize{980, 800};
// The picture view's room never goes below this height, so that a small picture still shows.
constexpr int kViewMinHeight = 120;

QDockWidget* MakePanel(QMainWindow* window, const char* name, const QString& title) {
    auto* panel = new QDockWidget(title, window);
    panel->setObjectName(name);
    // Panels stay inside the one window: a floating one would be a window the compositor places.
    panel->setFeatures(QDockWidget::DockWidgetClosable | QDockWidget::DockWidgetMovable);
    panel->hide();
    return panel;
}

}  // namespace

void frmMain::RememberWorkspace(const Workspace& remembered, std::function<void(const Workspace&)> keep) {
    remembered_ = remembered;
    keepWorkspace_ = std::move(keep);
    Settings next = model_.settings();
    next.histogramShown = remembered.histogramShown;
    next.histogramScale = remembered.histogramScale;
    next.histogramChannel = remembered.histogramChannel;
    next.chromaticityShown = remembered.chromaticityShown;
    next.nitsScale = remembered.nitsScale;
    next.scopeLines = remembered.scopeLines;
    next.falseColourBands = remembered.falseColourBands;
    next.zebraLevel = remembered.zebraLevel;
    model_.Apply(next);
    SetLayout(StartLayout(remembered, QGuiApplication::platformName()));
}

void frmMain::SetLayout(Layout layout) {
    if (!started_) {
        layout_ = layout;
        MarkLayout();
        return;
    }
    if (layout != layout_) {
        switch (layout) {
            case Layout::OneWindow: EnterOneWindow(); break;
            case Layout::SeparateWindows: EnterSeparateWindows(); break;
        }
    }
    MarkLayout();
}

void frmMain::MarkLayout() {
    mnuToolsLayoutOne->setChecked(layout_ == Layout::OneWindow);
    mnuToolsLayoutSeparate->setChecked(layout_ == Layout::SeparateWindows);
}

QDockWidget* frmMain::panelOf(const Instrument* instrument) const {
    if (instrument == nullptr) return nullptr;
    if (instrument == frmScope_) return dockLine_;
    if (instrument == frmVector_) return dockVector_;
    if (instrument == frmHistogram_) return dockHistogram_;
    if (instrument == frmChromaticity_) return dockChromaticity_;
    if (instrument == frmRawHistogram_) return dockRawHistogram_;
    return nullptr;
}

bool frmMain::InPanel(const QWidget* widget) const {
    for (const QDockWidget* panel : {dockLine_, dockVector_, dockHistogram_, dockChromaticity_, dockRawHistogram_})
        if (panel != nullptr && panel->isAncestorOf(widget)) return true;
    return false;
}

Workspace frmMain::CurrentWorkspace() const {
    Workspace now = remembered_;
    if (layoutChosen_) now.layout = layout_;
    if (layout_ == Layout::OneWindow && started_) {
        now.geometry = saveGeometry();
        now.panels = saveState();
    }
    now.histogramShown = model_.settings().histogramShown;
    now.histogramScale = model_.settings().histogramScale;
    now.histogramChannel = model_.settings().histogramChannel;
    now.chromaticityShown = model_.settings().chromaticityShown;
    now.nitsScale = model_.settings().nitsScale;
    now.scopeLines = model_.settings().scopeLines;
    now.falseColourBands = model_.settings().falseColourBands;
    now.zebraLevel = model_.settings().zebraLevel;
    return now;
}

void frmMain::BuildPanels() {
    dockLine_ = MakePanel(this, "panelLine", "Line Scope");
    dockVector_ = MakePanel(this, "panelVector", "Vectorscope");
    dockHistogram_ = MakePanel(this, "panelHistogram", "Histogram");
    dockChromaticity_ = MakePanel(this, "panelChromaticity", "Chromaticity");
    dockRawHistogram_ = MakePanel(this, "panelRawHistogram", "Raw Histogram");
    setDockOptions(QMainWindow::AnimatedDocks | QMainWindow::AllowNestedDocks | QMainWindow::AllowTabbedDocks);
    for (QDockWidget* panel : {dockLine_, dockVector_, dockHistogram_, dockChromaticity_, dockRawHistogram_})
        panel->installEventFilter(this);
}

void frmMain::EnterOneWindow() {
    const bool first = !panelsPlaced_;
    layout_ = Layout::OneWindow;
    reattachInstruments_ = false;
    const std::pair<Instrument*, QDockWidget*> panels[] = {
        {frmScope_, dockLine_}, {frmVector_, dockVector_}, {frmHistogram_, dockHistogram_},
        {frmChromaticity_, dockChromaticity_}, {frmRawHistogram_, dockRawHistogram_}};
    for (const auto& [instrument, panel] : panels) {
        instrument->setParent(panel);  // a plain widget from here: no longer a window
        instrument->setPanel(true);
        panel->setWidget(instrument);
        instrument->show();
    }
    if (first) {
        // Side by side under the view, in the design's order.
        addDockWidget(Qt::BottomDockWidgetArea, dockLine_, Qt::Horizontal);
        addDockWidget(Qt::BottomDockWidgetArea, dockVector_, Qt::Horizontal);
        addDockWidget(Qt::BottomDockWidgetArea, dockHistogram_, Qt::Horizontal);
        addDockWidget(Qt::BottomDockWidgetArea, dockChromaticity_, Qt::Horizontal);
        addDockWidget(Qt::BottomDockWidgetArea, dockRawHistogram_, Qt::Horizontal);
        panelsPlaced_ = true;
    }
    centralWidget()->setMinimumSize(kClientWidth, kClientHeight - ImageView::kViewOuterHeight + kViewMinHeight);
    dockLine_->setVisible(chkLineScope->isChecked());
    dockVector_->setVisible(chkPolar->isChecked());
    dockHistogram_->setVisible(model_.settings().histogramShown);
    dockChromaticity_->setVisible(model_.settings().chromaticityShown);
    dockRawHistogram_->setVisible(model_.settings().rawHistogramShown);
    const bool restored = !remembered_.panels.isEmpty() && restoreState(remembered_.panels);
    if (restored) {
        // The panels shown as they were: the boxes and the menu follow.
        chkLineScope->setChecked(!dockLine_->isHidden());
        chkPolar->setChecked(!dockVector_->isHidden());
        model_.Set(&Settings::histogramShown, !dockHistogram_->isHidden());
        model_.Set(&Settings::chromaticityShown, !dockChromaticity_->isHidden());
        model_.Set(&Settings::rawHistogramShown, !dockRawHistogram_->isHidden());
    }
    if (remembered_.geometry.isEmpty() || !restoreGeometry(remembered_.geometry)) resize(kOneWindowSize);
    ArrangeClient();
    RefitView();
    // Panels the user arranged last time keep their sizes; new ones are fitted.
    if (!restored) ScheduleFitPanels();
}

void frmMain::EnterSeparateWindows() {
    if (layout_ == Layout::OneWindow && started_) {
        // Kept for a return to the one window.
        remembered_.geometry = saveGeometry();
        remembered_.panels = saveState();
    }
    layout_ = Layout::SeparateWindows;
    const std::pair<Instrument*, QDockWidget*> panels[] = {
        {frmScope_, dockLine_}, {frmVector_, dockVector_}, {frmHistogram_, dockHistogram_},
        {frmChromaticity_, dockChromaticity_}, {frmRawHistogram_, dockRawHistogram_}};
    for (const auto& [instrument, panel] : panels) {
        panel->hide();
        instrument->setParent(this, Qt::Tool | Qt::FramelessWindowHint);
        instrument->setPanel(false);
    }
    centralWidget()->setMinimumSize(0, 0);
    if (isMaximized() || isFullScreen()) showNormal();
    resize(kClientWidth, kClientHeight + menuBar()->sizeHint().height() + statusBar()->sizeHint().height());
    ArrangeClient();
    RefitView();
    const bool normal = !(windowState() & Qt::WindowMinimized);
    ShowInstrument(frmScope_, chkLineScope->isChecked() && normal);
    ShowInstrument(frmVector_, chkPolar->isChecked() && normal);
    ShowInstrument(frmHistogram_, model_.settings().histogramShown && normal);
    ShowInstrument(frmChromaticity_, model_.settings().chromaticityShown && normal);
    ShowInstrument(frmRawHistogram_, model_.settings().rawHistogramShown && normal);
}

void frmMain::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    Form_Resize();
    if (started_) ScheduleFitPanels();
}

void frmMain::ArrangeClient() {
    QWidget* client = centralWidget();
    if (designTop_.isEmpty()) {
        // Everything under the view keeps its design place across, and moves down with the room.
        const QWidget* view[] = {view_->picImg, view_->picHidden, view_->hscrCross, view_->vscrCross};
        for (QWidget* control : client->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
            if (std::find(std::begin(view), std::end(view), control) == std::end(view))
                designTop_.insert(control, control->y());
    }
    const bool grows = layout_ == Layout::OneWindow;
    const int shift = grows ? client->height() - kClientHeight : 0;
    for (auto it = designTop_.cbegin(); it != designTop_.cend(); ++it) it.key()->move(it.key()->x(), it.value() + shift);
    if (grows)
        view_->SetRoom(QRect(kViewLeft, kViewTop, std::max(1, client->width() - 2 * kViewLeft),
                             ImageView::kViewOuterHeight + shift));
    else
        view_->SetRoom(std::nullopt);
}

void frmMain::ScheduleFitPanels() {
    if (fitPanelsPending_ || layout_ != Layout::OneWindow) return;
    fitPanelsPending_ = true;
    QTimer::singleShot(0, this, [this] { FitPanelsToWindow(); });
}

void frmMain::FitPanelsToWindow() {
    fitPanelsPending_ = false;
    if (layout_ != Layout::OneWindow) return;
    QList<QDockWidget*> row;
    std::vector<const Instrument*> shown;
    const std::pair<const Instrument*, QDockWidget*> panels[] = {
        {frmScope_, dockLine_}, {frmVector_, dockVector_}, {frmHistogram_, dockHistogram_},
        {frmChromaticity_, dockChromaticity_}, {frmRawHistogram_, dockRawHistogram_}};
    for (const auto& [instrument, panel] : panels) {
        if (panel->isHidden()) continue;
        if (dockWidgetArea(panel) != Qt::BottomDockWidgetArea || !tabifiedDockWidgets(panel).isEmpty()) return;
        if (!row.isEmpty() && panel->y() != row.front()->y()) return;
        row.append(panel);
        shown.push_back(instrument);
    }
    if (row.isEmpty()) return;
    // What each panel adds around its instrument (its title bar), and the gaps between them.
    const int gap = style()->pixelMetric(QStyle::PM_DockWidgetSeparatorExtent, nullptr, this);
    std::vector<QSize> frames;
    for (qsizetype i = 0; i < row.size(); ++i) frames.push_back(row[i]->size() - shown[i]->size());
    const int width = this->width() - gap * static_cast<int>(row.size() - 1);
    const int height = centralWidget()->height() + row.front()->height() - centralWidget()->minimumHeight() - gap;
    std::vector<int> scales(row.size(), 1);
    const auto fits = [&] {
        int across = 0;
        int down = 0;
        for (std::size_t i = 0; i < scales.size(); ++i) {
            const QSize size = shown[i]->PanelSizeAt(scales[i]) + frames[i];
            across += size.width();
            down = std::max(down, size.height());
        }
        return across <= width && down <= height;
    };
    for (bool grew = true; grew;) {
        grew = false;
        for (std::size_t i = 0; i < scales.size(); ++i) {
            ++scales[i];
            if (fits())
                grew = true;
            else
                --scales[i];
        }
    }
    QList<int> widths;
    int rowHeight = 0;
    int used = 0;
    for (std::size_t i = 0; i < scales.size(); ++i) {
        const QSize size = shown[i]->PanelSizeAt(scales[i]) + frames[i];
        widths.append(size.width());
        used += size.width();
        rowHeight = std::max(rowHeight, size.height());
    }
    // What is left across goes to the last panel, whose instrument stays centred in it.
    widths.back() += std::max(0, width - used);
    resizeDocks(row, widths, Qt::Horizontal);
    resizeDocks(row, QList<int>(row.size(), rowHeight), Qt::Vertical);
}

void frmMain::RefitView() {
    tmrRefit->stop();
    if (!model_.loaded() || LoadRunning) return;
    const Picture& picture = model_.picture();
    model_.Refit(view_->FitFor(picture.width(), picture.height()));
}

}  // namespace vistrel
