#include "CorvelEncoder/ui/IntroSheet.h"

#include "CorvelEncoder/model/AppModel.h"
#include "CorvelEncoder/ui/PanelKit.h"
#include "CorvelEncoder/ui/Theme.h"
#include "CorvelEncoderCore/CorvelIdentity.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMimeData>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

namespace corvel {

using namespace panelkit;

IntroSheet::IntroSheet(AppModel& model, QWidget* parent) : QWidget(parent), m_model(model)
{
    setObjectName(QStringLiteral("introSheet"));
    setAcceptDrops(true);
    setFocusPolicy(Qt::StrongFocus);

    auto* card = new QFrame(this);
    card->setObjectName(QStringLiteral("introCard"));
    card->setFixedWidth(460);
    card->setStyleSheet(QStringLiteral("#introCard { background: %1; border: 1px solid %2;"
                                       " border-radius: 12px; }")
                            .arg(css(Theme::panel()), css(Theme::lineStrong())));
    auto* column = new QVBoxLayout(card);
    column->setContentsMargins(24, 22, 24, 18);
    column->setSpacing(14);
    column->addWidget(new SuiteLockup(true, card));

    auto* text = new QLabel(QStringLiteral("Drop a movie, a folder, or a .corveljob from ") +
                                CorvelIdentity::briskName +
                                QStringLiteral(". The queue writes ProRes, H.264, and HEVC."),
                            card);
    text->setObjectName(QStringLiteral("introText"));
    text->setWordWrap(true);
    column->addWidget(text);
    // The card has a fixed width, so the wrapped text's height is known; an aligned widget
    // would otherwise get the unwrapped height and squeeze the lockup.
    const QMargins margins = column->contentsMargins();
    text->setMinimumHeight(text->heightForWidth(card->width() - margins.left() - margins.right()));

    m_continue = new QPushButton(QStringLiteral("Continue"), card);
    m_continue->setObjectName(QStringLiteral("continueButton"));
    m_continue->setDefault(true);
    connect(m_continue, &QPushButton::clicked, this, &IntroSheet::proceed);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_continue);
    column->addLayout(buttons);

    auto* centre = new QVBoxLayout(this);
    centre->addStretch(1);
    centre->addWidget(card, 0, Qt::AlignHCenter);
    centre->addStretch(1);
    setFocusProxy(m_continue);
}

void IntroSheet::proceed()
{
    m_model.intake().dismissIntro();
    emit continued();
}

void IntroSheet::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), QColor(0, 0, 0, 140));
}

void IntroSheet::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        proceed();
        return;
    }
    QWidget::keyPressEvent(event);
}

bool IntroSheet::focusNextPrevChild(bool)
{
    // The card is modal: Tab must not reach the controls it covers.
    m_continue->setFocus(Qt::TabFocusReason);
    return true;
}

void IntroSheet::dragEnterEvent(QDragEnterEvent* event)
{
    if (event->mimeData()->hasUrls())
        event->acceptProposedAction();
}

void IntroSheet::dragMoveEvent(QDragMoveEvent* event)
{
    if (event->mimeData()->hasUrls())
        event->acceptProposedAction();
}

void IntroSheet::dropEvent(QDropEvent* event)
{
    if (m_model.intake().handleDrop(event->mimeData()->urls()))
        event->acceptProposedAction();
}

} // namespace corvel
