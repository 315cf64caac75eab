// The main window's shell: start-up, controls and menus, resizing, exit, help.

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QFontInfo>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QScrollBar>
#include <QSet>
#include <QWindow>

#include <random>

#include "about/frmAbout.h"
#include "app_support.h"
#include "linescope/frmScope.h"
#include "platform/FittingText.h"
#include "vectorscope/frmVector.h"

using namespace vistrel;
using testing_support::StartedMain;

namespace {

// Records the order in which top-level windows are first shown.
class ShowOrder : public QObject {
public:
    ShowOrder() { qApp->installEventFilter(this); }
    ~ShowOrder() override { qApp->removeEventFilter(this); }
    std::vector<QString> shown;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        auto* widget = qobject_cast<QWidget*>(watched);
        if (event->type() == QEvent::Show && widget != nullptr && widget->isWindow()) {
            if (std::find(shown.begin(), shown.end(), widget->objectName()) == shown.end())
                shown.push_back(widget->objectName());
        }
        return false;
    }
};

}  // namespace

// The instrument windows first, then the main window, then the About box over it; the
// file-name box holds the test card in the program's folder, and nothing is loaded.
TEST(MainStartUp, InstrumentsComeFirstThenTheMainWindowThenTheAboutBox) {
    ShowOrder order;
    testing_support::ScopedFakeDesktop desk;
    desk.fake.folder = "/opt/vistrel";
    std::vector<bool> visibleAtAbout;
    desk.fake.onModal = [&](QDialog& dialog) {
        auto* main = qobject_cast<frmMain*>(dialog.parentWidget());
        ASSERT_NE(main, nullptr);  // owned by the main window at start-up
        const Workspace& workspace = main->workspace();
        visibleAtAbout = {main->isVisible(), workspace.instrument<frmScope>()->isVisible(),
                          workspace.instrument<frmVector>()->isVisible()};
    };
    frmMain w;
    w.start();
    EXPECT_EQ(order.shown, (std::vector<QString>{"frmScope", "frmVector", "frmMain"}));
    EXPECT_EQ(desk.fake.modalShown, (std::vector<QString>{"frmAbout"}));
    EXPECT_EQ(visibleAtAbout, (std::vector<bool>{true, true, true}));
    EXPECT_EQ(Ctl<QLineEdit>(w, "txtImageFile")->text(), "/opt/vistrel/30861.jpg");
    EXPECT_FALSE(w.model().loaded());
    EXPECT_TRUE(desk.fake.warnings.empty());
}

TEST(MainControls, CaptionsPositionsAndInitialStates) {
    StartedMain w;
    EXPECT_EQ(w->windowTitle(), "Vistrel");
    EXPECT_EQ(w->centralWidget()->size(), QSize(528, 440));
    // The view as designed, empty: its border only, as tall as every picture that fits is shown.
    EXPECT_EQ(Ctl<vistrel::PictureBox>(*w, "picImg")->geometry(), QRect(16, 15, 2, 334));
    // Every control in the client area, none over another (the two instrument
    // switches share one pixel row by design), the layout reaching the area's far edges.
    const QRect client(QPoint(0, 0), w->centralWidget()->size());
    std::vector<QWidget*> controls;
    for (QWidget* c : w->centralWidget()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        if (c->objectName() != "picHidden") controls.push_back(c);
    ASSERT_GE(controls.size(), 16u);
    QRect reach;
    for (QWidget* a : controls) {
        EXPECT_TRUE(client.contains(a->geometry())) << a->objectName().toStdString();
        reach |= a->geometry();
        for (QWidget* b : controls) {
            if (a >= b) continue;
            const QRect both = a->geometry() & b->geometry();
            const bool switches = QSet<QString>{a->objectName(), b->objectName()} ==
                                  QSet<QString>{"chkLineScope", "chkPolar"};
            EXPECT_TRUE(both.isEmpty() || (switches && both.height() == 1))
                << a->objectName().toStdString() << " over " << b->objectName().toStdString();
        }
    }
    EXPECT_GE(reach.right(), client.right() - 8);
    EXPECT_GE(reach.bottom(), client.bottom() - 8);
    // The crosshair bars run along the view's top and left edges.
    const QRect view = Ctl<vistrel::PictureBox>(*w, "picImg")->geometry();
    const QRect across = Ctl<QScrollBar>(*w, "hscrCross")->geometry();
    const QRect down = Ctl<QScrollBar>(*w, "vscrCross")->geometry();
    EXPECT_TRUE(across.left() == view.left() && across.bottom() + 1 == view.top());
    EXPECT_TRUE(down.top() == view.top() && down.right() < view.left());
    // The channel boxes side by side in their frame, red to negative.
    const char* const row[] = {"chkChannel[0]", "chkChannel[1]", "chkChannel[2]", "chkChroma", "chkNeg"};
    for (std::size_t i = 1; i < std::size(row); ++i) {
        const QRect left = Ctl<QCheckBox>(*w, row[i - 1])->geometry();
        const QRect right = Ctl<QCheckBox>(*w, row[i])->geometry();
        EXPECT_EQ(right.top(), left.top());
        EXPECT_GT(right.left(), left.right()) << row[i];
        EXPECT_EQ(Ctl<QCheckBox>(*w, row[i])->parentWidget()->objectName(), "fraChannels");
    }
    EXPECT_TRUE(Ctl<QPushButton>(*w, "cmdLoadPic")->isDefault());
    EXPECT_EQ(Ctl<QAction>(*w, "mnuFileChoose")->shortcut(), QKeySequence(Qt::Key_F2));
    for (const char* hidden : {"hscrCross", "vscrCross", "fraChannels", "picHidden"})
        EXPECT_FALSE(Ctl<QWidget>(*w, hidden)->isVisible()) << hidden;
    EXPECT_EQ(Ctl<vistrel::PictureBox>(*w, "picImg")->cursor().shape(), Qt::CrossCursor);
    // The lamp's caption is readable (at least 7 points as drawn) and fits its design box.
    const QLabel* lamp = Ctl<QLabel>(*w, "lblX[0]");
    EXPECT_GE(QFontInfo(lamp->font()).pointSizeF(), 7.0);
    EXPECT_LE(QFontMetrics(lamp->font()).horizontalAdvance(lamp->text()), lamp->width());
    EXPECT_LE(QFontMetrics(lamp->font()).height(), lamp->height());
    // The colour note's line is the window's last, under the client area and across it.
    const QWidget* note = Ctl<QLabel>(*w, "lblNote");
    const QWidget* line = note->parentWidget();
    EXPECT_FALSE(w->centralWidget()->isAncestorOf(note));
    EXPECT_EQ(line->parentWidget(), &*w);
    EXPECT_GT(line->y(), w->centralWidget()->geometry().bottom());
    EXPECT_EQ(line->width(), w->width());
    EXPECT_GE(w->height(), line->geometry().bottom() + 1) << "the window has room for it";
}

// Every button and menu item of the window (not of its instruments) starts checked or
// disabled exactly as listed, and the menu bar is the design's: File, Tools, Select, Help.
TEST(MainControls, EveryButtonAndMenuItemStartsInItsState) {
    StartedMain w;
    const QSet<QString> checked = {"chkChannel[0]", "chkChannel[1]", "chkChannel[2]", "chkLineScope", "chkPolar",
                                   "mnuToolsLine", "mnuToolsVector", "mnuToolsReload", "mnuToolsLuma601",
                                   "mnuToolsColourConvert", "mnuToolsTrace0", "mnuToolsLayoutSeparate",
                                   "mnuSelectChanR", "mnuSelectChanG", "mnuSelectChanB"};
    const QSet<QString> disabled = {"mnuFileSaveScopes", "mnuFileHoldReference", "mnuFileDropReference",
                                    "mnuSelectChannels", "mnuSelectChroma", "mnuSelectNeg"};
    QSet<QString> seen;
    for (QObject* found : w->findChildren<QObject*>()) {
        const QString name = found->objectName();
        auto* widget = qobject_cast<QWidget*>(found);
        if (!name.startsWith("mnu") && !name.startsWith("chk") && !name.startsWith("cmd")) continue;
        // An instrument's own controls are its window's, not the main window's.
        if (qobject_cast<QMenu*>(found) == nullptr && widget != nullptr && widget->window() != w.window.get()) continue;
        bool on = false;
        bool enabled = true;
        if (auto* button = qobject_cast<QAbstractButton*>(found)) {
            on = button->isChecked(), enabled = button->isEnabled();
        } else if (auto* item = qobject_cast<QAction*>(found)) {
            on = item->isChecked(), enabled = item->isEnabled();
        } else if (widget != nullptr) {
            enabled = widget->isEnabled();
        }
        seen << name;
        EXPECT_EQ(on, checked.contains(name)) << name.toStdString();
        EXPECT_EQ(enabled, !disabled.contains(name)) << name.toStdString();
    }
    EXPECT_TRUE(seen.contains(checked) && seen.contains(disabled));
    QStringList bar;
    for (QAction* menu : w->menuBar()->actions()) bar << menu->text();
    EXPECT_EQ(bar, (QStringList{"&File", "&Tools", "&Select", "&Help"}));
}

// Over faces, sizes and widths: the font keeps its size when the text fits, is
// never drawn below the smallest size, is the largest half-point size that fits
// before any narrowing, and gives up only at the smallest size and narrowest width.
// Tab walks the controls in the design's order, whatever order they were made in.
TEST(MainControls, TabOrderRunsAsDesigned) {
    StartedMain w;
    const QStringList expected = {"txtImageFile", "cmdLoadPic", "cmdBrowse", "picImg", "chkChannel[0]",
                                  "chkChannel[1]", "chkChannel[2]", "chkChroma", "chkNeg", "chkLineScope",
                                  "chkPolar", "hscrLamp", "cmdReset", "cmdExit"};
    QStringList chain;
    QWidget* at = Ctl<QLineEdit>(*w, "txtImageFile");
    for (int guard = 0; guard < 256 && chain.size() < expected.size(); ++guard, at = at->nextInFocusChain())
        if (expected.contains(at->objectName()) && !chain.contains(at->objectName())) chain << at->objectName();
    EXPECT_EQ(chain, expected);
}

TEST(MainControls, FittingFontIsTheLargestReadableFontThatFits) {
    const QString text = "Scale Bright";
    const auto advance = [&](const QFont& f) { return QFontMetrics(f).horizontalAdvance(text); };
    const auto halfPointSmaller = [](QFont f) {
        f.setPointSizeF(f.pointSizeF() - 0.5);
        return QFontInfo(f).pointSizeF();
    };
    for (const char* family : {"DejaVu Sans", "DejaVu Serif", "DejaVu Sans Mono"}) {
        for (const double points : {7.5, 8.0, 9.5, 12.0}) {
            QFont base(family);
            base.setPointSizeF(points);
            for (int width = 20; width <= 120; width += 5) {
                SCOPED_TRACE(testing::Message() << family << " " << points << " pt, width " << width);
                const QFont fitted = FittingFont(base, text, width, 7.0);
                EXPECT_GE(QFontInfo(fitted).pointSizeF(), 7.0);
                EXPECT_LE(fitted.pointSizeF(), points);
                if (advance(base) <= width) {
                    EXPECT_EQ(fitted, base);
                    continue;
                }
                const bool narrowed = fitted.stretch() != QFont::AnyStretch && fitted.stretch() != QFont::Unstretched;
                if (advance(fitted) > width) {
                    EXPECT_EQ(fitted.stretch(), QFont::ExtraCondensed);
                }
                if (narrowed) {
                    EXPECT_LT(halfPointSmaller(fitted), 7.0);  // narrowed only at the smallest size
                } else {
                    QFont larger = fitted;
                    larger.setPointSizeF(fitted.pointSizeF() + 0.5);
                    EXPECT_GT(advance(larger), width);
                }
            }
        }
    }
}

// Any sequence of minimise, restore, maximise and instrument toggles, with the
// window manager minimising the instruments along with their owner as openbox
// does: whenever the main window is back in its normal state, exactly the
// instruments whose boxes are checked are shown, and none is left minimised.
TEST(MainResize, RestoreAlwaysBringsBackTheCheckedInstrumentsUnminimised) {
    StartedMain w;
    QWidget* const instruments[2] = {w->workspace().instrument<frmScope>(), w->workspace().instrument<frmVector>()};
    QCheckBox* const boxes[2] = {Ctl<QCheckBox>(*w, "chkLineScope"), Ctl<QCheckBox>(*w, "chkPolar")};
    // The model: a change of the main window's state shows exactly the checked
    // instruments when it is normal and hides both otherwise; a box shows or
    // hides its own instrument whatever the state.
    bool expected[2] = {true, true};
    Qt::WindowStates lastState = w->windowState();
    std::mt19937 random(20261207);
    std::uniform_int_distribution<int> pick(0, 5);
    for (int step = 0; step < 400; ++step) {
        const int action = pick(random);
        switch (action) {
            case 0:  // the window manager minimises the owner and its tool windows
                for (QWidget* instrument : instruments)
                    if (instrument->isVisible()) instrument->setWindowState(Qt::WindowMinimized);
                w->setWindowState(w->windowState() | Qt::WindowMinimized);
                break;
            case 1: w->setWindowState(w->windowState() & ~Qt::WindowMinimized); break;
            case 2: w->setWindowState(Qt::WindowMaximized); break;
            case 3: w->setWindowState(Qt::WindowNoState); break;
            case 4:
                Ctl<QCheckBox>(*w, "chkLineScope")->click();
                break;
            case 5:
                Ctl<QAction>(*w, "mnuToolsVector")->trigger();
                break;
        }
        const auto seen = [](Qt::WindowStates s) {
            return s & Qt::WindowMinimized ? 1 : s & Qt::WindowMaximized ? 2 : 0;
        };
        if (seen(w->windowState()) != seen(lastState))
            for (int k = 0; k < 2; ++k) expected[k] = boxes[k]->isChecked() && seen(w->windowState()) == 0;
        if (action >= 4) expected[action - 4] = boxes[action - 4]->isChecked();
        lastState = w->windowState();
        for (int k = 0; k < 2; ++k) {
            SCOPED_TRACE(testing::Message() << "step " << step << ", action " << action << ", instrument " << k);
            EXPECT_EQ(instruments[k]->isVisible(), expected[k]);
            // Shown by this step, or shown beside a normal main window: not minimised.
            if (instruments[k]->isVisible() && (seen(w->windowState()) == 0 || action - 4 == k)) {
                EXPECT_FALSE(instruments[k]->windowState() & Qt::WindowMinimized);
            }
        }
    }
}

TEST(MainResize, InstrumentsAreToolWindowsOwnedByTheMainWindowFromTheStart) {
    testing_support::ScopedFakeDesktop desk;
    frmMain w;
    std::vector<QWindow*> ownersAtFirstShow;
    struct FirstShow : QObject {
        std::vector<QWindow*>* owners;
        bool eventFilter(QObject* watched, QEvent* event) override {
            auto* widget = qobject_cast<QWidget*>(watched);
            if (event->type() == QEvent::Show && widget != nullptr && widget->windowType() == Qt::Tool)
                owners->push_back(widget->windowHandle() ? widget->windowHandle()->transientParent() : nullptr);
            return false;
        }
    } watch;
    watch.owners = &ownersAtFirstShow;
    qApp->installEventFilter(&watch);
    w.start();
    qApp->removeEventFilter(&watch);
    ASSERT_NE(w.windowHandle(), nullptr);
    EXPECT_EQ(ownersAtFirstShow, (std::vector<QWindow*>{w.windowHandle(), w.windowHandle()}));
    for (QWidget* instrument : {static_cast<QWidget*>(w.workspace().instrument<frmScope>()),
                                static_cast<QWidget*>(w.workspace().instrument<frmVector>())}) {
        EXPECT_EQ(instrument->windowType(), Qt::Tool);
        EXPECT_TRUE(instrument->windowFlags() & Qt::FramelessWindowHint);
        EXPECT_EQ(instrument->parentWidget(), &w);
    }
    // Hidden and shown again, an instrument keeps its owner.
    Ctl<QCheckBox>(w, "chkLineScope")->click();
    Ctl<QCheckBox>(w, "chkLineScope")->click();
    w.setWindowState(Qt::WindowMinimized);
    w.setWindowState(Qt::WindowNoState);
    EXPECT_EQ(w.workspace().instrument<frmScope>()->windowHandle()->transientParent(), w.windowHandle());
    EXPECT_EQ(w.workspace().instrument<frmVector>()->windowHandle()->transientParent(), w.windowHandle());
}

TEST(MainExit, EveryWayOfClosingClosesAllWindows) {
    const auto check = [](const std::function<void(frmMain&)>& closeIt) {
        StartedMain w;
        closeIt(*w);
        EXPECT_FALSE(w->isVisible());
        EXPECT_FALSE(w->workspace().instrument<frmScope>()->isVisible());
        EXPECT_FALSE(w->workspace().instrument<frmVector>()->isVisible());
    };
    check([](frmMain& w) { Ctl<QPushButton>(w, "cmdExit")->click(); });
    check([](frmMain& w) { Ctl<QAction>(w, "mnuFileExit")->trigger(); });
    check([](frmMain& w) { w.close(); });
}

TEST(MainHelp, ReadmeOpensOnlyWhenItExistsAndIsNamedWhenNothingCanOpenIt) {
    StartedMain w;
    Ctl<QAction>(*w, "mnuHelpReadme")->trigger();
    EXPECT_TRUE(w.fake().opened.empty());
    w.fake().existing.push_back("/opt/vistrel/ScopeReadme.txt");
    Ctl<QAction>(*w, "mnuHelpReadme")->trigger();
    EXPECT_EQ(w.fake().opened, (std::vector<QString>{"/opt/vistrel/ScopeReadme.txt"}));
    EXPECT_TRUE(w.fake().warnings.empty());

    // No program to open it with: the user is told which file to open.
    w.fake().canOpen = false;
    Ctl<QAction>(*w, "mnuHelpReadme")->trigger();
    ASSERT_EQ(w.fake().warnings.size(), 1u);
    EXPECT_TRUE(w.fake().warnings[0].first.contains("/opt/vistrel/ScopeReadme.txt"));
    EXPECT_EQ(w.fake().warnings[0].second, "View README");
}

TEST(MainHelp, AboutIsShownAgainWithoutAnOwner) {
    StartedMain w;
    QWidget* owner = reinterpret_cast<QWidget*>(1);
    w.fake().onModal = [&](QDialog& dialog) { owner = dialog.parentWidget(); };
    Ctl<QAction>(*w, "mnuHelpAbout")->trigger();
    EXPECT_EQ(w.fake().modalShown.size(), 2u);
    EXPECT_EQ(owner, nullptr);
}

TEST(About, VersionTextFollowsItsPatterns) {
    const QLocale us(QLocale::English, QLocale::UnitedStates);
    EXPECT_EQ(VersionText(0, 95, 1, us), "BETA Version 00.095.001");
    EXPECT_EQ(VersionText(1, 2, 3, us), "Version 01.002.003");
    EXPECT_EQ(VersionText(12, 1234, 0, us), "Version 12.1234.000");
    EXPECT_EQ(VersionText(0, 95, 1, QLocale(QLocale::German, QLocale::Germany)), "BETA Version 00,095,001");
}

TEST(About, TheDialogShowsThisReleasesVersionWithoutMinimiseOrMaximise) {
    StartedMain w;
    frmAbout about(nullptr, w.window.get());
    EXPECT_EQ(about.lblVersion->text(), VersionText(0, 95, 1));
    EXPECT_EQ(about.minimumSize(), about.maximumSize());
    const Qt::WindowFlags flags = about.windowFlags();
    EXPECT_TRUE(flags & Qt::CustomizeWindowHint);  // only the hints listed count
    EXPECT_TRUE(flags & Qt::WindowTitleHint);
    EXPECT_FALSE(flags & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint));
}

// Wherever the main window is, and once the box's own frame is known, the box's
// outer frame is centred on the main window's outer frame and the version label
// on the box's outer width; a box the user moved stays put until the main window moves.
TEST(About, CentresItsOuterFrameOnTheMainWindowsOuterFrameAsBothBecomeKnown) {
    StartedMain w;
    frmAbout about(w.window.get(), w.window.get());
    const auto check = [&](const char* when) {
        SCOPED_TRACE(when);
        const QSize outer = about.OuterSize();
        const QRect mainFrame = w->frameGeometry();
        // The frame's corner as the window system is asked for it (the widget learns it once shown).
        const QPoint corner = about.windowHandle()->framePosition();
        EXPECT_EQ(corner, CentredPosition(mainFrame, outer));
        if (about.isVisible()) {
            EXPECT_EQ(about.frameGeometry().topLeft(), corner);
        }
        const QPointF aboutCentre = QRectF(corner, QSizeF(outer)).center();
        EXPECT_NEAR(aboutCentre.x(), QRectF(mainFrame).center().x(), 1.0);
        EXPECT_NEAR(aboutCentre.y(), QRectF(mainFrame).center().y(), 1.0);
        EXPECT_EQ(about.lblVersion->x(), static_cast<int>((outer.width() - about.lblVersion->width()) / 2.0f));
    };
    // Before it is shown, the box reckons with a frame like the main window's.
    const QRect mainFrame = w->frameGeometry();
    const QRect mainClient = w->geometry();
    EXPECT_EQ(about.OuterSize(), about.size() + (mainFrame.size() - mainClient.size()));
    check("before showing");

    about.show();
    QCoreApplication::processEvents();
    EXPECT_EQ(about.OuterSize(), about.frameGeometry().size());
    check("shown");
    const int sideBorder = about.geometry().left() - about.frameGeometry().left();
    const double labelCentre = about.lblVersion->x() + about.lblVersion->width() / 2.0;
    EXPECT_NEAR(labelCentre - about.width() / 2.0, sideBorder, 1.0);

    for (const QPoint to : {QPoint(300, 200), QPoint(0, 0), QPoint(37, 911)}) {
        w->move(to);  // as a window manager places the main window
        QCoreApplication::processEvents();
        check("main window moved");
    }
    about.windowHandle()->setFramePosition(QPoint(5, 6));  // as the user drags it
    QCoreApplication::processEvents();
    EXPECT_EQ(about.frameGeometry().topLeft(), QPoint(5, 6));
}

TEST(About, CentringTruncatesHalvesAndAllowsNegativeOffsets) {
    EXPECT_EQ(CentredPosition(QRect(100, 50, 528, 480), QSize(226, 205)), QPoint(251, 187));
    // 301 pixels wider: 4515 twips halve to 2257 (truncated), 150.47 pixels.
    EXPECT_EQ(CentredPosition(QRect(0, 0, 527, 205), QSize(226, 205)), QPoint(150, 0));
    // A main window smaller than the dialog puts the dialog before it.
    EXPECT_EQ(CentredPosition(QRect(10, 10, 100, 100), QSize(226, 205)), QPoint(-53, -42));
}
