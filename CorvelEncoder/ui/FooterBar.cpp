#include "CorvelEncoder/ui/FooterBar.h"

#include "CorvelEncoder/model/AppModel.h"
#include "CorvelEncoder/model/WatchController.h"
#include "CorvelEncoder/ui/GlyphIcon.h"
#include "CorvelEncoder/ui/PanelKit.h"
#include "CorvelEncoder/ui/Theme.h"
#include "CorvelEncoder/ui/WheelGuard.h"

#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QToolButton>

namespace corvel {

FooterBar::FooterBar(AppModel& model, QWidget* parent) : QWidget(parent), m_model(model)
{
    using panelkit::css;
    setObjectName(QStringLiteral("footer"));
    setAttribute(Qt::WA_StyledBackground);
    // Flat buttons show the keyboard focus as a ring, which hover never draws.
    setStyleSheet(QStringLiteral(
                      "#footer { background: %1; border-top: 1px solid %2; }"
                      " QLabel { color: %3; }"
                      " QToolButton, QPushButton { border: 2px solid transparent;"
                      " border-radius: 5px; padding: 2px 6px; color: %4; background: transparent; }"
                      " QToolButton:hover, QPushButton:hover { background: %5; }"
                      " QToolButton:focus, QPushButton:focus { border-color: %6; }")
                      .arg(css(Theme::panel()), css(Theme::line()), css(Theme::dim()),
                           css(Theme::text()), css(Theme::raised()), css(Theme::accent())));
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(12, 6, 12, 6);
    row->setSpacing(14);

    m_watch = new QToolButton(this);
    m_watch->setObjectName(QStringLiteral("watchButton"));
    m_watch->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    m_watch->setToolTip(QStringLiteral("Watch Folder"));
    m_watch->setCursor(Qt::PointingHandCursor);
    connect(m_watch, &QToolButton::clicked, this, [this] {
        m_model.sheets().setShowWatchSettings(!m_model.sheets().showWatchSettings());
    });
    row->addWidget(m_watch);

    m_parallel = new QSpinBox(this);
    m_parallel->setObjectName(QStringLiteral("parallel"));
    m_parallel->setPrefix(QStringLiteral("Parallel "));
    m_parallel->setRange(AppSettings::kMinParallel, AppSettings::kMaxParallel);
    m_parallel->setToolTip(
        QStringLiteral("How many encodes run at once. Hardware encoders stay happier at 2."));
    m_parallel->setKeyboardTracking(false);
    connect(m_parallel, &QSpinBox::valueChanged, this, [this](int value) {
        if (value != m_model.editing().parallel())
            m_model.scheduler().setMaxParallel(value);
    });
    guardWheel(m_parallel);
    row->addWidget(m_parallel);

    m_phase = new QLabel(this);
    m_phase->setObjectName(QStringLiteral("phase"));
    m_queued = new QLabel(this);
    m_queued->setObjectName(QStringLiteral("queuedCount"));
    m_done = new QLabel(this);
    m_done->setObjectName(QStringLiteral("doneCount"));
    row->addWidget(m_phase);
    row->addWidget(m_queued);
    row->addWidget(m_done);
    row->addStretch(1);

    m_logToggle = new QPushButton(this);
    m_logToggle->setObjectName(QStringLiteral("logToggle"));
    m_logToggle->setCursor(Qt::PointingHandCursor);
    connect(m_logToggle, &QPushButton::clicked, this,
            [this] { m_model.feed().setLogOpen(!m_model.feed().logOpen()); });
    row->addWidget(m_logToggle);

    connect(&model.store(), &JobStore::countsChanged, this, &FooterBar::refreshCounts);
    connect(&model.scheduler(), &Scheduler::queueStateChanged, this, &FooterBar::refreshCounts);
    connect(&model.persistence(), &Persistence::settingsChanged, this, &FooterBar::refreshWatch);
    connect(&model.watch(), &WatchController::watchingChanged, this, &FooterBar::refreshWatch);
    connect(&model.feed(), &ActivityFeed::logOpenChanged, this, &FooterBar::refreshLogToggle);
    refreshCounts();
    refreshWatch();
    refreshLogToggle();
}

void FooterBar::refreshCounts()
{
    m_phase->setText(m_model.scheduler().phaseLabel());
    m_queued->setText(QStringLiteral("%1 queued").arg(m_model.store().queuedCount()));
    m_done->setText(QStringLiteral("%1 done").arg(m_model.store().doneCount()));
}

void FooterBar::refreshWatch()
{
    const AppSettings& settings = m_model.persistence().settings();
    const bool on = settings.watchEnabled;
    // Switched on but not watching (a missing folder, another watcher): the name stays, the
    // open eye does not; the banner says why.
    const bool watching = on && m_model.watch().isWatching();
    m_watch->setIcon(glyphIcon(watching ? Glyph::eye : Glyph::eyeSlash,
                               watching ? Theme::accent() : Theme::dim(), 14));
    m_watch->setToolTip(on && !watching ? QStringLiteral("Watch Folder (not watching)")
                                        : QStringLiteral("Watch Folder"));
    QString title = QStringLiteral("Watch off");
    if (on && !settings.watchFolder.isEmpty()) {
        title = QFileInfo(settings.watchFolder).fileName();
        if (title.isEmpty()) // "/" has no last component
            title = settings.watchFolder;
    }
    m_watch->setText(title);
    const QSignalBlocker block(m_parallel);
    m_parallel->setValue(m_model.editing().parallel());
}

void FooterBar::refreshLogToggle()
{
    m_logToggle->setText(m_model.feed().logOpen() ? QStringLiteral("Hide Log")
                                                  : QStringLiteral("Activity"));
}

} // namespace corvel
