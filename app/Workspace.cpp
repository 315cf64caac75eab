#include "app/Workspace.h"

#include <QActionGroup>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDockWidget>
#include <QEvent>
#include <QGuiApplication>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QScrollBar>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>
#include <QWindow>

#include <algorithm>
#include <cassert>

#include "app/SaveScopes.h"
#include "chromaticity/frmChromaticity.h"
#include "histogram/frmHistogram.h"
#include "linescope/frmScope.h"
#include "platform/Controls.h"
#include "platform/Instrument.h"
#include "rawhistogram/frmRawHistogram.h"
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
// How long the view's room must keep its size before the picture is fitted to it again:
// a drag of the window's edge fits once, at its end, not at every step.
constexpr int kRefitPauseMs = 150;
// How long start-up waits for a Wayland compositor to show the main window before its
// instruments are shown as its children.
constexpr int kExposeWaitMs = 2000;

template <class T>
Instrument* Make(Model& model, QWidget* owner) {
    return new T(model, owner);
}

QDockWidget* MakePanel(QMainWindow& window, const QString& name, const QString& title) {
    auto* panel = new QDockWidget(title, &window);
    panel->setObjectName(name);
    // Panels stay inside the one window: a floating one would be a window the compositor places.
    panel->setFeatures(QDockWidget::DockWidgetClosable | QDockWidget::DockWidgetMovable);
    panel->hide();
    return panel;
}

}  // namespace

const std::vector<InstrumentKind> kInstruments = {
    {"Line", "&Line Scope", "Line Scope", kLineScopeImage, &Settings::lineScopeShown, Make<frmScope>},
    {"Vector", "&Vector", "Vectorscope", kVectorscopeImage, &Settings::vectorscopeShown, Make<frmVector>, true},
    {"Histogram", "&Histogram", "Histogram", kHistogramImage, &Settings::histogramShown, Make<frmHistogram>},
    {"Chromaticity", "&Chromaticity", "Chromaticity", kChromaticityImage, &Settings::chromaticityShown,
     Make<frmChromaticity>},
    {"RawHistogram", "&Raw Histogram", "Raw Histogram", kRawHistogramImage, &Settings::rawHistogramShown,
     Make<frmRawHistogram>, false, ShownFor::CameraRaw},
};

namespace {

std::size_t IndexOf(bool Settings::*shown) {
    const auto found = std::find_if(kInstruments.begin(), kInstruments.end(),
                                    [shown](const InstrumentKind& kind) { return kind.shown == shown; });
    assert(found != kInstruments.end());
    return static_cast<std::size_t>(found - kInstruments.begin());
}

}  // namespace

bool ImageWrittenFor(const InstrumentKind& kind, const Model& model) {
    switch (kind.shownFor) {
        case ShownFor::EveryPicture: return true;
        case ShownFor::CameraRaw: return model.loaded() && model.picture().raw.has_value();
    }
    return true;
}

bool OnWayland() { return QGuiApplication::platformName().startsWith(QLatin1String("wayland")); }

QSize DesignWindowSize(QMainWindow& window) {
    return {kDesignClient.width(),
            kDesignClient.height() + window.menuBar()->sizeHint().height() + window.statusBar()->sizeHint().height()};
}

Workspace::Workspace(QMainWindow& window, Model& model, ImageView& view, std::function<bool()> loading)
    : QObject(&window),
      window_(window),
      model_(model),
      view_(view),
      loading_(std::move(loading)),
      layout_(DefaultLayout(QGuiApplication::platformName())) {
    tmrRefit = new QTimer(this);
    tmrRefit->setSingleShot(true);
    tmrRefit->setInterval(kRefitPauseMs);
    connect(tmrRefit, &QTimer::timeout, this, [this] { RefitView(); });
    window.centralWidget()->installEventFilter(this);
    connect(&model_, &Model::changed, this, &Workspace::ModelChanged);
}

void Workspace::AddInstrumentItems(QMenu& tools) {
    for (std::size_t i = 0; i < kInstruments.size(); ++i) {
        const InstrumentKind& kind = kInstruments[i];
        QAction* item = MakeItem(&tools, QByteArray("mnuTools").append(kind.name).constData(), kind.item, true,
                                 model_.settings().*kind.shown);
        // A checkable item has toggled its own mark by the time this runs.
        connect(item, &QAction::triggered, this, [this, item, i] {
            chosen_[i] = true;
            model_.Set(kInstruments[i].shown, item->isChecked());
        });
        items_.push_back(item);
    }
}

void Workspace::AddLayoutMenu(QMenu& tools) {
    QMenu* layout = tools.addMenu("Layout");
    layout->setObjectName("mnuToolsLayout");
    mnuToolsLayoutOne = MakeItem(layout, "mnuToolsLayoutOne", "One Window", true, false);
    mnuToolsLayoutSeparate = MakeItem(layout, "mnuToolsLayoutSeparate", "Separate Windows", true, false);
    auto* group = new QActionGroup(layout);
    group->addAction(mnuToolsLayoutOne);
    group->addAction(mnuToolsLayoutSeparate);
    for (const auto& [item, chosen] : {std::pair{mnuToolsLayoutOne, Layout::OneWindow},
                                      std::pair{mnuToolsLayoutSeparate, Layout::SeparateWindows}})
        connect(item, &QAction::triggered, this, [this, chosen] {
            layoutChosen_ = true;
            SetLayout(chosen);
        });
    MarkLayout();
}

void Workspace::Remember(const SavedWorkspace& remembered, std::function<void(const SavedWorkspace&)> keep) {
    remembered_ = remembered;
    keep_ = std::move(keep);
    Settings next = model_.settings();
    next.histogramShown = remembered.histogramShown;
    next.histogramScale = remembered.histogramScale;
    next.histogramChannel = remembered.histogramChannel;
    next.chromaticityShown = remembered.chromaticityShown;
    next.nitsScale = remembered.nitsScale;
    next.rawHistogramShown = remembered.rawHistogramShown.value_or(false);
    next.rawHistogramAxis = remembered.rawHistogramAxis;
    next.rawHistogramScale = remembered.rawHistogramScale;
    chosen_[IndexOf(&Settings::rawHistogramShown)] = remembered.rawHistogramShown.has_value();
    next.scopeLines = remembered.scopeLines;
    next.falseColourBands = remembered.falseColourBands;
    next.zebraLevel = remembered.zebraLevel;
    model_.Apply(next);
    SetLayout(StartLayout(remembered, QGuiApplication::platformName()));
}

SavedWorkspace Workspace::Current() const {
    SavedWorkspace now = remembered_;
    if (layoutChosen_) now.layout = layout_;
    if (layout_ == Layout::OneWindow && opened_) {
        now.geometry = window_.saveGeometry();
        now.panels = window_.saveState();
    }
    const Settings& settings = model_.settings();
    now.histogramShown = settings.histogramShown;
    now.histogramScale = settings.histogramScale;
    now.histogramChannel = settings.histogramChannel;
    now.chromaticityShown = settings.chromaticityShown;
    now.nitsScale = settings.nitsScale;
    now.rawHistogramShown = chosen_[IndexOf(&Settings::rawHistogramShown)]
                                ? std::optional<bool>(settings.rawHistogramShown)
                                : std::nullopt;
    now.rawHistogramAxis = settings.rawHistogramAxis;
    now.rawHistogramScale = settings.rawHistogramScale;
    now.scopeLines = settings.scopeLines;
    now.falseColourBands = settings.falseColourBands;
    now.zebraLevel = settings.zebraLevel;
    return now;
}

void Workspace::SetLayout(Layout layout) {
    if (opened_ && layout != layout_) {
        switch (layout) {
            case Layout::OneWindow: EnterOneWindow(); break;
            case Layout::SeparateWindows: EnterSeparateWindows(); break;
        }
    }
    layout_ = layout;
    MarkLayout();
}

void Workspace::MarkLayout() {
    if (mnuToolsLayoutOne == nullptr) return;
    mnuToolsLayoutOne->setChecked(layout_ == Layout::OneWindow);
    mnuToolsLayoutSeparate->setChecked(layout_ == Layout::SeparateWindows);
}

void Workspace::Open() {
    instruments_.assign(kInstruments.size(), nullptr);
    for (const bool first : {true, false})
        for (std::size_t i = 0; i < kInstruments.size(); ++i)
            if (kInstruments[i].redrawnFirst == first) instruments_[i] = kInstruments[i].make(model_, &window_);
    // Focus handed back lands on the control that last had it, as the window's own would.
    const auto takeFocusBack = [this] {
        window_.activateWindow();
        if (window_.focusWidget() == nullptr) window_.setFocus();
    };
    for (std::size_t i = 0; i < kInstruments.size(); ++i) {
        instruments_[i]->focusMainWindow = takeFocusBack;
        panels_.push_back(MakePanel(window_, QStringLiteral("panel") + kInstruments[i].name, kInstruments[i].title));
        panels_.back()->installEventFilter(this);
        shown_.push_back(model_.settings().*kInstruments[i].shown);
    }
    window_.setDockOptions(QMainWindow::AnimatedDocks | QMainWindow::AllowNestedDocks | QMainWindow::AllowTabbedDocks);
    opened_ = true;

    switch (layout_) {
        case Layout::OneWindow:
            EnterOneWindow();
            window_.show();
            break;
        case Layout::SeparateWindows:
            if (OnWayland()) {
                // A compositor learns a tool window's owner when the tool window is mapped:
                // the main window goes on screen first, and its instruments after it.
                window_.show();
                const QDeadlineTimer deadline(kExposeWaitMs);
                while (!deadline.hasExpired() && (window_.windowHandle() == nullptr || !window_.windowHandle()->isExposed()))
                    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
                ShowAsSettingsSay(true);
            } else {
                ShowAsSettingsSay(true);
                window_.show();
                // An X11 window manager learns a tool window's owner when the tool window
                // is mapped; the instruments came first, before their owner was on screen.
                reattachInstruments_ = QGuiApplication::platformName() == QLatin1String("xcb");
                if (reattachInstruments_) window_.windowHandle()->installEventFilter(this);
            }
            break;
    }
}

void Workspace::Close() {
    if (keep_) keep_(Current());
    for (Instrument* instrument : instruments_) instrument->close();
}

QDockWidget* Workspace::panelOf(const Instrument* instrument) const {
    const auto found = std::find(instruments_.begin(), instruments_.end(), instrument);
    return instrument == nullptr || found == instruments_.end() ? nullptr : panels_[found - instruments_.begin()];
}

bool Workspace::InPanel(const QWidget* widget) const {
    return std::any_of(panels_.begin(), panels_.end(), [widget](const QDockWidget* panel) { return panel->isAncestorOf(widget); });
}

void Workspace::ModelChanged(Changes what) {
    if (what & Change::Shown) {
        for (std::size_t i = 0; i < kInstruments.size(); ++i) {
            const bool wanted = model_.settings().*kInstruments[i].shown;
            if (i < items_.size()) items_[i]->setChecked(wanted);
            // Only an instrument whose own setting changed: the others stay as the window's state left them.
            if (i >= shown_.size() || shown_[i] == wanted) continue;
            shown_[i] = wanted;
            Show(i, wanted);
        }
    }
    if ((what & Change::Picture) && layout_ == Layout::OneWindow && model_.loaded() && model_.picture().raw)
        ShowForCameraRaw();
}

void Workspace::ShowForCameraRaw() {
    Settings next = model_.settings();
    for (std::size_t i = 0; i < kInstruments.size(); ++i)
        if (kInstruments[i].shownFor == ShownFor::CameraRaw && !chosen_[i]) next.*kInstruments[i].shown = true;
    model_.Apply(next);
}

void Workspace::Show(std::size_t index, bool shown) {
    if (layout_ == Layout::OneWindow) {
        if (QDockWidget* panel = panels_[index]; panel->isHidden() == shown) {
            panel->setVisible(shown);
            ScheduleFitPanels();
        }
        return;
    }
    Instrument& window = *instruments_[index];
    if (shown && (window.windowState() & Qt::WindowMinimized))
        window.setWindowState(window.windowState() & ~Qt::WindowMinimized);
    window.setVisible(shown);
}

void Workspace::ShowAsSettingsSay(bool windowNormal) {
    for (std::size_t i = 0; i < instruments_.size(); ++i)
        Show(i, model_.settings().*kInstruments[i].shown && windowNormal);
}

WindowState Workspace::StateNow() const {
    if (window_.windowState() & Qt::WindowMinimized) return WindowState::Minimised;
    if (window_.windowState() & Qt::WindowMaximized) return WindowState::Maximised;
    return WindowState::Normal;
}

void Workspace::FollowWindowState() {
    const WindowState now = StateNow();
    if (now == lastState_) return;
    lastState_ = now;
    // Panels go and come with the one window they are in.
    if (layout_ == Layout::SeparateWindows) ShowAsSettingsSay(now == WindowState::Normal);
}

void Workspace::WindowResized() {
    FollowWindowState();
    if (opened_) ScheduleFitPanels();
}

bool Workspace::eventFilter(QObject* watched, QEvent* event) {
    if (reattachInstruments_ && watched == window_.windowHandle() && event->type() == QEvent::Expose &&
        window_.windowHandle()->isExposed()) {
        // On screen, so managed: the instruments shown again are taken in as its own.
        reattachInstruments_ = false;
        for (Instrument* instrument : instruments_)
            if (instrument->isVisible() && instrument->isWindow()) {
                instrument->hide();
                instrument->show();
            }
    } else if (watched == window_.centralWidget() && event->type() == QEvent::Resize) {
        ArrangeClient();
        if (layout_ == Layout::OneWindow && model_.loaded()) tmrRefit->start();
    } else if (event->type() == QEvent::Close && layout_ == Layout::OneWindow) {
        // A panel's own close button unticks its instrument, as the Tools menu would.
        for (std::size_t i = 0; i < panels_.size(); ++i)
            if (watched == panels_[i]) {
                chosen_[i] = true;
                model_.Set(kInstruments[i].shown, false);
            }
    }
    return false;
}

void Workspace::EnterOneWindow() {
    const bool first = !panelsPlaced_;
    layout_ = Layout::OneWindow;
    reattachInstruments_ = false;
    for (std::size_t i = 0; i < instruments_.size(); ++i) {
        instruments_[i]->setParent(panels_[i]);  // a plain widget from here: no longer a window
        instruments_[i]->setPanel(true);
        panels_[i]->setWidget(instruments_[i]);
        instruments_[i]->show();
    }
    if (first) {
        // Side by side under the view, in the design's order.
        for (QDockWidget* panel : panels_) window_.addDockWidget(Qt::BottomDockWidgetArea, panel, Qt::Horizontal);
        panelsPlaced_ = true;
    }
    window_.centralWidget()->setMinimumSize(kDesignClient.width(),
                                            kDesignClient.height() - ImageView::kViewOuterHeight + kViewMinHeight);
    for (std::size_t i = 0; i < panels_.size(); ++i) panels_[i]->setVisible(model_.settings().*kInstruments[i].shown);
    const bool restored = !remembered_.panels.isEmpty() && window_.restoreState(remembered_.panels);
    if (restored) {
        // The panels shown as they were: the boxes and the menu follow.
        Settings next = model_.settings();
        for (std::size_t i = 0; i < panels_.size(); ++i) next.*kInstruments[i].shown = !panels_[i]->isHidden();
        model_.Apply(next);
    }
    if (model_.loaded() && model_.picture().raw) ShowForCameraRaw();
    if (remembered_.geometry.isEmpty() || !window_.restoreGeometry(remembered_.geometry)) window_.resize(kOneWindowSize);
    ArrangeClient();
    RefitView();
    // Panels the user arranged last time keep their sizes; new ones are fitted.
    if (!restored) ScheduleFitPanels();
}

void Workspace::EnterSeparateWindows() {
    if (layout_ == Layout::OneWindow && opened_) {
        // Kept for a return to the one window.
        remembered_.geometry = window_.saveGeometry();
        remembered_.panels = window_.saveState();
    }
    layout_ = Layout::SeparateWindows;
    for (std::size_t i = 0; i < instruments_.size(); ++i) {
        panels_[i]->hide();
        instruments_[i]->setParent(&window_, Qt::Tool | Qt::FramelessWindowHint);
        instruments_[i]->setPanel(false);
    }
    window_.centralWidget()->setMinimumSize(0, 0);
    if (window_.isMaximized() || window_.isFullScreen()) window_.showNormal();
    window_.resize(DesignWindowSize(window_));
    ArrangeClient();
    RefitView();
    ShowAsSettingsSay(!(window_.windowState() & Qt::WindowMinimized));
}

void Workspace::ArrangeClient() {
    QWidget* client = window_.centralWidget();
    if (designTop_.isEmpty()) {
        // Everything under the view keeps its design place across, and moves down with the room.
        const QWidget* view[] = {view_.picImg, view_.picHidden, view_.hscrCross, view_.vscrCross};
        for (QWidget* control : client->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
            if (std::find(std::begin(view), std::end(view), control) == std::end(view))
                designTop_.insert(control, control->y());
    }
    const bool grows = layout_ == Layout::OneWindow;
    const int shift = grows ? client->height() - kDesignClient.height() : 0;
    for (auto it = designTop_.cbegin(); it != designTop_.cend(); ++it) it.key()->move(it.key()->x(), it.value() + shift);
    if (grows)
        view_.SetRoom(QRect(kViewLeft, kViewTop, std::max(1, client->width() - 2 * kViewLeft),
                            ImageView::kViewOuterHeight + shift));
    else
        view_.SetRoom(std::nullopt);
}

void Workspace::ScheduleFitPanels() {
    if (fitPanelsPending_ || layout_ != Layout::OneWindow) return;
    fitPanelsPending_ = true;
    QTimer::singleShot(0, this, [this] { FitPanels(); });
}

void Workspace::FitPanels() {
    fitPanelsPending_ = false;
    if (layout_ != Layout::OneWindow) return;
    QList<QDockWidget*> row;
    std::vector<const Instrument*> shown;
    for (std::size_t i = 0; i < panels_.size(); ++i) {
        QDockWidget* panel = panels_[i];
        if (panel->isHidden()) continue;
        if (window_.dockWidgetArea(panel) != Qt::BottomDockWidgetArea || !window_.tabifiedDockWidgets(panel).isEmpty())
            return;
        if (!row.isEmpty() && panel->y() != row.front()->y()) return;
        row.append(panel);
        shown.push_back(instruments_[i]);
    }
    if (row.isEmpty()) return;
    // What each panel adds around its instrument (its title bar), and the gaps between them.
    const int gap = window_.style()->pixelMetric(QStyle::PM_DockWidgetSeparatorExtent, nullptr, &window_);
    std::vector<QSize> frames;
    for (qsizetype i = 0; i < row.size(); ++i) frames.push_back(row[i]->size() - shown[i]->size());
    const QWidget& client = *window_.centralWidget();
    const int width = window_.width() - gap * static_cast<int>(row.size() - 1);
    const int height = client.height() + row.front()->height() - client.minimumHeight() - gap;
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
    window_.resizeDocks(row, widths, Qt::Horizontal);
    window_.resizeDocks(row, QList<int>(row.size(), rowHeight), Qt::Vertical);
}

void Workspace::RefitView() {
    tmrRefit->stop();
    if (!model_.loaded() || loading_()) return;
    const Picture& picture = model_.picture();
    model_.Refit(view_.FitFor(picture.width(), picture.height()));
}

}  // namespace vistrel
