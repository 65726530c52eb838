#include "CorvelEncoder/ui/LogPane.h"

#include "CorvelEncoder/ui/LogListModel.h"
#include "CorvelEncoder/ui/Theme.h"

#include <QFontDatabase>
#include <QListView>
#include <QVBoxLayout>

namespace corvel {

LogPane::LogPane(LogListModel* lines, QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("logPane"));
    setAutoFillBackground(true);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, Theme::field());
    palette.setColor(QPalette::Base, Theme::field());
    setPalette(palette);
    auto* column = new QVBoxLayout(this);
    // The lines keep clear of the window's edge and of the footer above.
    column->setContentsMargins(12, 6, 6, 4);
    m_view = new QListView(this);
    m_view->setObjectName(QStringLiteral("logList"));
    m_view->setModel(lines);
    m_view->setUniformItemSizes(true);
    m_view->setFrameShape(QFrame::NoFrame);
    m_view->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    mono.setPointSizeF(8.5);
    m_view->setFont(mono);
    m_view->setPalette(palette);
    setMinimumHeight(60);
    column->addWidget(m_view);
    connect(lines, &QAbstractItemModel::rowsInserted, this, &LogPane::scrollToEnd);
    connect(lines, &QAbstractItemModel::rowsRemoved, this, &LogPane::scrollToEnd);
}

void LogPane::scrollToEnd()
{
    m_view->scrollToBottom();
}

} // namespace corvel
