#pragma once

#include <QFrame>

namespace corvel {

class ActivityFeed;
class FittedText;

// The warning strip under the header: the feed's banner with a Dismiss button, hidden while
// there is none. Main thread; `feed` must outlive it.
class BannerBar final : public QFrame
{
    Q_OBJECT

public:
    explicit BannerBar(ActivityFeed& feed, QWidget* parent = nullptr);

private:
    void refresh();

    ActivityFeed& m_feed;
    FittedText* m_text = nullptr;
};

} // namespace corvel
