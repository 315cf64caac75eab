#pragma once
// The workspace: the instruments beside the main window's picture view, as borderless
// windows of their own (Separate Windows) or as panels of the main window (One Window),
// where the view and each instrument grow with the room they are given. It makes the
// instruments from one list, shows each as the settings say, switches the layout, fits
// the panels and the view to the window, and keeps what it was between runs
// (SavedWorkspace).

#include <QHash>
#include <QObject>
#include <QSize>

#include <functional>
#include <vector>

#include "app/SavedWorkspace.h"
#include "model/Model.h"

class QAction;
class QDockWidget;
class QMainWindow;
class QMenu;
class QTimer;

namespace vistrel {

class ImageView;
class Instrument;

// The main window's client area as designed, below the menu bar.
inline constexpr QSize kDesignClient{528, 440};
// The main window at its design size: the client area, the menu bar over it and the
// status line under it.
QSize DesignWindowSize(QMainWindow& window);
// On Wayland no program places its own windows or keeps one over another.
bool OnWayland();

// The pictures an instrument has something of its own to show for.
enum class ShownFor { EveryPicture, CameraRaw };

// One kind of instrument. A new instrument is one row of kInstruments.
struct InstrumentKind {
    const char* name;     // its Tools item is "mnuTools" + name, its panel "panel" + name
    const char* item;     // the Tools item's caption
    const char* title;    // the panel's title
    const char* image;    // its file among the saved or rendered instruments
    bool Settings::*shown;
    Instrument* (*make)(Model& model, QWidget* owner);
    // Made before the others, so that the model's notices reach it first: a probe's mark
    // shows on the vectorscope before its trace on the line scope.
    bool redrawnFirst = false;
    // CameraRaw: its image is written for camera raw files alone, and the one window shows
    // its panel by itself when one loads, until the user shows or hides it.
    ShownFor shownFor = ShownFor::EveryPicture;
};

// The window's states as the instruments follow them.
enum class WindowState { Normal, Minimised, Maximised };

// Every instrument in the design's order: the Tools menu's, the panels' side by side, the
// saved images'.
extern const std::vector<InstrumentKind> kInstruments;

// Whether a kind's image is written (Save Scopes, --render) for the picture the model holds.
bool ImageWrittenFor(const InstrumentKind& kind, const Model& model);

class Workspace : public QObject {
    Q_OBJECT
public:
    // The workspace of `window`, whose central widget holds `view` at its design place.
    // `loading`: a load is running, and the view is not to be fitted again in it.
    Workspace(QMainWindow& window, Model& model, ImageView& view, std::function<bool()> loading);

    // The Tools menu's items that show and hide the instruments, and its Layout menu.
    void AddInstrumentItems(QMenu& tools);
    void AddLayoutMenu(QMenu& tools);

    // Before Open: the workspace remembered from the last run, and where it goes when the
    // window closes. Without it the window opens in the platform's default layout and
    // keeps nothing.
    void Remember(const SavedWorkspace& remembered, std::function<void(const SavedWorkspace&)> keep);
    // The workspace as closing the window now would keep it.
    SavedWorkspace Current() const;

    // Tools > Layout: the instruments moved into panels of the window, or out into windows
    // of their own; before Open, the layout to open in.
    void SetLayout(Layout layout);
    Layout layout() const { return layout_; }

    // The instruments made and placed, and the window shown: on X11 the instrument windows
    // come first, on Wayland after their owner is on screen.
    void Open();
    // The window closes: the workspace kept, the instruments closed.
    void Close();

    // The instruments, in kInstruments' order; empty before Open.
    const std::vector<Instrument*>& instruments() const { return instruments_; }
    template <class T>
    T* instrument() const {
        for (Instrument* shown : instruments_)
            if (auto* found = qobject_cast<T*>(shown)) return found;
        return nullptr;
    }
    // The panel that holds an instrument in the one window.
    QDockWidget* panelOf(const Instrument* instrument) const;
    // A widget inside one of the panels (whose keys are the panel's own).
    bool InPanel(const QWidget* widget) const;

    // The window minimised, maximised or restored: separate instrument windows go and come
    // with it, and come back in their normal state.
    void FollowWindowState();
    // The window resized: the panels fitted again once the layout has settled.
    void WindowResized();
    // The panels side by side under the view (as they first come) sized for the largest
    // whole scale each instrument can have in the window, the line scope's first, the view
    // keeping the rest; an arrangement the user made otherwise (tabbed, stacked, at a side)
    // is left as it is.
    void FitPanels();
    // The view fitted again to its room, once the room has stopped changing.
    void RefitView();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void ModelChanged(Changes what);
    // A camera raw file loaded in the one window: the instruments for such files that the
    // user has not shown or hidden come by themselves.
    void ShowForCameraRaw();
    // Shows or hides an instrument: its panel in the one window; or its window, which
    // shown comes back in its normal state: a window manager that minimised it with the
    // main window leaves it marked minimised, and mapping it so would minimise the main
    // window again.
    void Show(std::size_t index, bool shown);
    void ShowAsSettingsSay(bool windowNormal);
    void EnterOneWindow();
    void EnterSeparateWindows();
    // The client area laid out for the layout: in the one window the picture view's room
    // grows with it and the controls under the view keep to its bottom; else the design's.
    void ArrangeClient();
    void ScheduleFitPanels();
    void MarkLayout();
    WindowState StateNow() const;

    QMainWindow& window_;
    Model& model_;
    ImageView& view_;
    std::function<bool()> loading_;
    std::vector<Instrument*> instruments_;
    std::vector<QDockWidget*> panels_;
    std::vector<QAction*> items_;
    std::vector<bool> shown_;  // what each instrument was last shown as, from the settings
    // Each instrument shown or hidden by the user (its Tools item, its panel's close button),
    // this run or, remembered, an earlier one.
    std::vector<bool> chosen_ = std::vector<bool>(kInstruments.size(), false);
    QAction* mnuToolsLayoutOne = nullptr;
    QAction* mnuToolsLayoutSeparate = nullptr;
    Layout layout_;
    bool layoutChosen_ = false;  // the user picked it from the menu this run
    bool opened_ = false;
    bool panelsPlaced_ = false;  // the panels have had their first arrangement
    bool fitPanelsPending_ = false;
    // The instruments are to be shown again once the main window is on screen.
    bool reattachInstruments_ = false;
    WindowState lastState_ = WindowState::Normal;
    SavedWorkspace remembered_;
    std::function<void(const SavedWorkspace&)> keep_;
    QHash<QWidget*, int> designTop_;  // the controls under the view, at their design tops
    QTimer* tmrRefit = nullptr;
};

}  // namespace vistrel
