#include "CorvelEncoder/ui/SheetPresenter.h"

#include "CorvelEncoder/model/AppModel.h"
#include "CorvelEncoder/ui/AboutSheet.h"
#include "CorvelEncoder/ui/HelpSheet.h"
#include "CorvelEncoder/ui/IntroSheet.h"
#include "CorvelEncoder/ui/SavePresetSheet.h"
#include "CorvelEncoder/ui/WatchSettingsPopover.h"

#include <QApplication>
#include <QDialog>
#include <QEvent>
#include <QMainWindow>
#include <QMouseEvent>

#include <algorithm>
#include <functional>

namespace corvel {

namespace {

constexpr int kPopoverGap = 6;

// A widget deleted later must not be shown or found in the meantime.
void discard(QWidget* widget)
{
    if (!widget)
        return;
    widget->hide();
    widget->deleteLater();
}

bool isWithin(const QWidget* widget, const QWidget* ancestor)
{
    return widget && ancestor && (widget == ancestor || ancestor->isAncestorOf(widget));
}

} // namespace

SheetPresenter::SheetPresenter(AppModel& model, QWidget* window)
    : QObject(window), m_model(model), m_window(window)
{
    Q_ASSERT(window);
    window->installEventFilter(this);

    connect(&model.sheets(), &Sheets::showAboutChanged, this, &SheetPresenter::setAboutShown);
    connect(&model.sheets(), &Sheets::showHelpChanged, this, &SheetPresenter::setHelpShown);
    connect(&model.sheets(), &Sheets::showSavePresetChanged, this,
            &SheetPresenter::setSavePresetShown);
    connect(&model.sheets(), &Sheets::showWatchSettingsChanged, this,
            &SheetPresenter::setWatchShown);
    connect(&model.intake(), &Intake::introChanged, this, [this] {
        // Marking the introduction seen does not take it off the screen: that is "Continue"'s.
        if (m_model.intake().showIntro())
            showIntro();
    });

    // Focus cannot wander behind the introduction by any route (a click, a shortcut).
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* now) {
        if (m_intro && now && now->window() == m_window && !isWithin(now, m_intro))
            m_intro->setFocus(Qt::OtherFocusReason);
    });

    setAboutShown(model.sheets().showAbout());
    setHelpShown(model.sheets().showHelp());
    setSavePresetShown(model.sheets().showSavePreset());
    setWatchShown(model.sheets().showWatchSettings());
    if (model.intake().showIntro())
        showIntro();
}

SheetPresenter::~SheetPresenter()
{
    qApp->removeEventFilter(this);
}

void SheetPresenter::setWatchAnchor(QWidget* anchor)
{
    m_anchor = anchor;
    if (m_watch)
        placeWatch();
}

// Dialogs

void SheetPresenter::presentDialog(QDialog* dialog, const std::function<void()>& closed)
{
    dialog->setWindowModality(Qt::WindowModal);
    // Escape or the window's close button: the flag follows, and the flag's change discards
    // the dialog.
    connect(dialog, &QDialog::finished, this, closed);
    dialog->show();
    dialog->raise();
    dialog->activateWindow();
}

void SheetPresenter::setAboutShown(bool shown)
{
    if (!shown) {
        discard(m_about);
        m_about = nullptr;
        return;
    }
    if (m_about)
        return;
    m_about = new AboutSheet(m_model, m_window);
    presentDialog(m_about, [this] { m_model.sheets().setShowAbout(false); });
}

void SheetPresenter::setHelpShown(bool shown)
{
    if (!shown) {
        discard(m_help);
        m_help = nullptr;
        return;
    }
    if (m_help)
        return;
    m_help = new HelpSheet(m_model, m_window);
    presentDialog(m_help, [this] { m_model.sheets().setShowHelp(false); });
}

void SheetPresenter::setSavePresetShown(bool shown)
{
    if (!shown) {
        discard(m_savePreset);
        m_savePreset = nullptr;
        return;
    }
    if (m_savePreset)
        return;
    // A fresh dialog each time, so the name starts from the model's suggestion.
    m_savePreset = new SavePresetSheet(m_model, m_window);
    presentDialog(m_savePreset, [this] { m_model.sheets().setShowSavePreset(false); });
}

// Watch settings

void SheetPresenter::setWatchShown(bool shown)
{
    if (!shown) {
        qApp->removeEventFilter(this);
        discard(m_watch);
        m_watch = nullptr;
        return;
    }
    if (m_watch || !m_window)
        return;
    m_watch = new WatchSettingsPopover(m_model, m_window);
    placeWatch();
    m_watch->show();
    m_watch->raise();
    m_watch->setFocus();
    // Clicks anywhere else in the window close it, as a popover does; a real popup window
    // would also close while the folder chooser it opened is up.
    qApp->installEventFilter(this);
}

void SheetPresenter::placeWatch()
{
    if (!m_watch || !m_window)
        return;
    m_watch->adjustSize();
    const QSize size = m_watch->size();
    QPoint at(12, m_window->height() - size.height() - 48);
    if (m_anchor && m_anchor->isVisible()) {
        const QPoint anchorTop = m_anchor->mapTo(m_window, QPoint(0, 0));
        at = QPoint(anchorTop.x(), anchorTop.y() - size.height() - kPopoverGap);
    }
    at.setX(std::clamp(at.x(), 0, std::max(0, m_window->width() - size.width())));
    at.setY(std::clamp(at.y(), 0, std::max(0, m_window->height() - size.height())));
    m_watch->move(at);
}

// Introduction

void SheetPresenter::showIntro()
{
    if (m_intro || !m_window)
        return;
    m_intro = new IntroSheet(m_model, m_window);
    connect(m_intro, &IntroSheet::continued, this, &SheetPresenter::closeIntro);
    placeIntro();
    m_intro->show();
    m_intro->raise();
    m_intro->setFocus();
}

void SheetPresenter::closeIntro()
{
    discard(m_intro);
    m_intro = nullptr;
}

void SheetPresenter::placeIntro()
{
    if (!m_intro || !m_window)
        return;
    QRect area = m_window->rect();
    // The menus stay usable above the layer.
    if (auto* main = qobject_cast<QMainWindow*>(m_window.data())) {
        if (QWidget* menu = main->menuWidget(); menu && menu->isVisible())
            area.setTop(menu->geometry().bottom() + 1);
    }
    m_intro->setGeometry(area);
    m_intro->raise();
}

bool SheetPresenter::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_window) {
        switch (event->type()) {
        case QEvent::Resize:
        case QEvent::Show:
        case QEvent::LayoutRequest:
            placeIntro();
            placeWatch();
            break;
        case QEvent::ChildAdded:
            // Content added after the layers must not cover them.
            if (m_intro)
                m_intro->raise();
            if (m_watch)
                m_watch->raise();
            break;
        default:
            break;
        }
        return false;
    }
    if (m_watch && event->type() == QEvent::MouseButtonPress) {
        auto* target = qobject_cast<QWidget*>(watched);
        if (target && target->window() == m_window && !isWithin(target, m_watch) &&
            !isWithin(target, m_anchor)) {
            m_model.sheets().setShowWatchSettings(false);
        }
    }
    return false;
}

AboutSheet* SheetPresenter::aboutSheet() const
{
    return m_about;
}

HelpSheet* SheetPresenter::helpSheet() const
{
    return m_help;
}

SavePresetSheet* SheetPresenter::savePresetSheet() const
{
    return m_savePreset;
}

WatchSettingsPopover* SheetPresenter::watchSettings() const
{
    return m_watch;
}

IntroSheet* SheetPresenter::intro() const
{
    return m_intro;
}

} // namespace corvel
