#include "CorvelEncoder/ui/BannerBar.h"

#include "CorvelEncoder/model/ActivityFeed.h"
#include "CorvelEncoder/ui/GlyphIcon.h"
#include "CorvelEncoder/ui/PanelKit.h"
#include "CorvelEncoder/ui/Theme.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>

#include <algorithm>

namespace corvel {

// Wraps at spaces; a word wider than the line (a long path) ends in an ellipsis instead of
// being cut, and the whole text stays in the tooltip. Fits again whenever its width changes.
class FittedText final : public QLabel
{
public:
    using QLabel::QLabel;

    void setWhole(const QString& text)
    {
        m_whole = text;
        fit();
    }

protected:
    void resizeEvent(QResizeEvent* event) override
    {
        QLabel::resizeEvent(event);
        fit();
    }

private:
    void fit()
    {
        const QFontMetrics fm(font());
        const int width = std::max(40, contentsRect().width());
        QStringList words = m_whole.split(QLatin1Char(' '));
        for (QString& word : words)
            word = fm.elidedText(word, Qt::ElideMiddle, width);
        const QString shown = words.join(QLatin1Char(' '));
        if (text() != shown)
            setText(shown);
        setToolTip(shown == m_whole ? QString() : m_whole);
    }

    QString m_whole;
};

BannerBar::BannerBar(ActivityFeed& feed, QWidget* parent) : QFrame(parent), m_feed(feed)
{
    using panelkit::css;
    setObjectName(QStringLiteral("banner"));
    QColor tint = Theme::warn();
    tint.setAlphaF(0.12f);
    setStyleSheet(QStringLiteral("#banner { background: %1; border-bottom: 1px solid %2; }")
                      .arg(css(tint), css(Theme::line())));
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(16, 6, 12, 6);
    auto* icon = new QLabel(this);
    icon->setPixmap(glyphIcon(Glyph::warning, Theme::warn(), 14).pixmap(14, 14));
    auto* text = m_text = new FittedText(this);
    text->setObjectName(QStringLiteral("bannerText"));
    text->setWordWrap(true);
    text->setTextInteractionFlags(Qt::TextSelectableByMouse);
    text->setStyleSheet(QStringLiteral("color: %1;").arg(css(Theme::text())));
    auto* dismiss = new QPushButton(QStringLiteral("Dismiss"), this);
    dismiss->setObjectName(QStringLiteral("dismissBanner"));
    dismiss->setFlat(true);
    dismiss->setCursor(Qt::PointingHandCursor);
    connect(dismiss, &QPushButton::clicked, this, [this] { m_feed.setBanner(std::nullopt); });
    row->addWidget(icon);
    row->addWidget(text, 1);
    row->addWidget(dismiss);
    connect(&feed, &ActivityFeed::bannerChanged, this, &BannerBar::refresh);
    refresh();
}

void BannerBar::refresh()
{
    const std::optional<QString>& banner = m_feed.banner();
    setVisible(banner.has_value());
    m_text->setWhole(banner.value_or(QString()));
}

} // namespace corvel
