#pragma once

#include <QWidget>

class QListView;

namespace corvel {

class LogListModel;

// The activity log under the footer, in a fixed-width font, following its newest line.
class LogPane final : public QWidget
{
    Q_OBJECT

public:
    LogPane(LogListModel* lines, QWidget* parent = nullptr);

    void scrollToEnd();

private:
    QListView* m_view = nullptr;
};

} // namespace corvel
