#include "CorvelEncoder/ui/HeaderBar.h"

#include "CorvelEncoder/model/AppModel.h"
#include "CorvelEncoder/ui/ChromeButton.h"
#include "CorvelEncoder/ui/PanelKit.h"
#include "CorvelEncoder/ui/Theme.h"
#include "CorvelEncoder/ui/WindowCommands.h"

#include <QHBoxLayout>
#include <QPushButton>

#include <algorithm>

namespace corvel {

HeaderBar::HeaderBar(AppModel& model, QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("header"));
    setAttribute(Qt::WA_StyledBackground);
    setStyleSheet(QStringLiteral("#header { background: %1; border-bottom: 1px solid %2; }")
                      .arg(panelkit::css(Theme::window()), panelkit::css(Theme::line())));
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(16, 12, 16, 12);
    row->setSpacing(8);
    row->addWidget(new panelkit::SuiteLockup(false, this));
    row->addStretch(1);

    auto* add = chromeButton(QStringLiteral("Add"), Glyph::plus, false, this);
    add->setObjectName(QStringLiteral("addButton"));
    add->setToolTip(QStringLiteral("Add files or folders"));
    connect(add, &QPushButton::clicked, this, [&model] { model.intake().addFiles(); });
    m_primary = chromeButton(QStringLiteral("Start Queue"), Glyph::play, true, this);
    m_primary->setObjectName(QStringLiteral("primaryButton"));
    connect(m_primary, &QPushButton::clicked, this, [&model] { model.scheduler().startQueue(); });
    m_pause = chromeButton(QStringLiteral("Pause"), Glyph::pause, false, this);
    m_pause->setObjectName(QStringLiteral("pauseButton"));
    connect(m_pause, &QPushButton::clicked, this, [&model] { model.scheduler().pauseQueue(); });
    m_stop = chromeButton(QStringLiteral("Stop"), Glyph::stop, false, this);
    m_stop->setObjectName(QStringLiteral("stopButton"));
    connect(m_stop, &QPushButton::clicked, this, [&model] { model.scheduler().stopActive(); });
    // Wide enough for either title, so "Resume" does not move the buttons beside it.
    int primaryWidth = 0;
    for (const QString& title : {QStringLiteral("Resume"), QStringLiteral("Start Queue")}) {
        m_primary->setText(title);
        m_primary->ensurePolished();
        primaryWidth = std::max(primaryWidth, m_primary->sizeHint().width());
    }
    m_primary->setMinimumWidth(primaryWidth);
    for (QPushButton* button : {add, m_primary, m_pause, m_stop})
        row->addWidget(button);
}

void HeaderBar::refresh(const QueueControls& controls)
{
    m_primary->setText(controls.resumable ? QStringLiteral("Resume")
                                          : QStringLiteral("Start Queue"));
    // Enable first, so a button losing the focus can hand it to the primary one.
    setUsable(m_primary, controls.canStart);
    setUsable(m_pause, controls.canPause);
    setUsable(m_stop, controls.canStop);
}

void HeaderBar::setUsable(QPushButton* button, bool usable)
{
    if (!usable && button->hasFocus()) {
        // Qt would move the focus on to the next button in the chain: Stop, after Pause.
        if (m_primary->isEnabled() && button != m_primary)
            m_primary->setFocus(Qt::OtherFocusReason);
        else if (m_fallback)
            m_fallback->setFocus(Qt::OtherFocusReason);
    }
    button->setEnabled(usable);
}

} // namespace corvel
