#include "CorvelEncoder/ui/QueuePane.h"

#include "CorvelEncoder/model/AppModel.h"
#include "CorvelEncoder/ui/ChromeButton.h"
#include "CorvelEncoder/ui/JobRowDelegate.h"
#include "CorvelEncoder/ui/PanelKit.h"
#include "CorvelEncoder/ui/QueueListModel.h"
#include "CorvelEncoder/ui/Theme.h"

#include <QAction>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QVBoxLayout>

namespace corvel {

void QueueView::dataChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight,
                            const QList<int>& roles)
{
    QAbstractItemView::dataChanged(topLeft, bottomRight, roles);
}

bool QueueView::viewportEvent(QEvent* event)
{
    if (event->type() == QEvent::Resize)
        emit viewportWidthChanged(viewport()->width());
    return QListView::viewportEvent(event);
}

namespace {

// The column titles above the rows, placed like the delegate's columns.
class QueueColumnHeader final : public QWidget
{
public:
    explicit QueueColumnHeader(QWidget* parent) : QWidget(parent) { setFixedHeight(26); }
    // The list's viewport may be narrower than the header (scroll bar).
    void setRowWidth(int width)
    {
        m_rowWidth = width;
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.fillRect(rect(), Theme::panel());
        p.fillRect(QRect(0, height() - 1, width(), 1), Theme::line());
        QFont font = this->font();
        font.setPointSizeF(7.5);
        font.setWeight(QFont::DemiBold);
        font.setLetterSpacing(QFont::AbsoluteSpacing, 0.8);
        p.setFont(font);
        p.setPen(Theme::mute());
        const auto c =
            JobRowDelegate::columns(QRect(0, 0, m_rowWidth > 0 ? m_rowWidth : width(), height()));
        const int flags = Qt::AlignLeft | Qt::AlignVCenter;
        p.drawText(c.source, flags, QStringLiteral("SOURCE"));
        p.drawText(c.preset, flags, QStringLiteral("PRESET"));
        p.drawText(c.output, flags, QStringLiteral("OUTPUT"));
        p.drawText(c.status, flags, QStringLiteral("STATUS"));
    }

private:
    int m_rowWidth = 0;
};

} // namespace

QueuePane::QueuePane(AppModel& model, QueueListModel* list, QWidget* parent)
    : QStackedWidget(parent), m_model(model), m_list(list)
{
    setObjectName(QStringLiteral("queuePane"));
    addWidget(makeEmptyPage());

    auto* listPage = new QWidget(this);
    auto* column = new QVBoxLayout(listPage);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    auto* header = new QueueColumnHeader(listPage);
    column->addWidget(header);

    m_view = new QueueView(listPage);
    m_view->setObjectName(QStringLiteral("queueList"));
    m_view->setModel(list);
    m_view->setUniformItemSizes(true); // 10,000 rows lay out without measuring each
    m_view->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_view->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_view->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    m_view->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff); // the columns shrink instead
    m_view->setFrameShape(QFrame::NoFrame);
    m_view->setMouseTracking(true);
    m_view->setContextMenuPolicy(Qt::CustomContextMenu);
    m_view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    QPalette palette = m_view->palette();
    palette.setColor(QPalette::Base, Theme::window());
    m_view->setPalette(palette);
    column->addWidget(m_view, 1);
    addWidget(listPage);
    // Keep the column titles over the columns when the scroll bar takes width.
    connect(m_view, &QueueView::viewportWidthChanged, header, &QueueColumnHeader::setRowWidth);

    connect(m_view->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &QueuePane::pushSelection);
    connect(&model.store(), &JobStore::selectionChanged, this, &QueuePane::pullSelection);
    connect(&model.store(), &JobStore::jobsInserted, this, &QueuePane::refreshEmpty);
    connect(&model.store(), &JobStore::jobsRemoved, this, &QueuePane::refreshEmpty);

    // The keys people use to take files off a list, where the list has the focus.
    auto* remove = new QAction(QStringLiteral("Remove"), m_view);
    remove->setShortcuts({QKeySequence(Qt::Key_Delete), QKeySequence(Qt::Key_Backspace)});
    remove->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    connect(remove, &QAction::triggered, this,
            [this] { emit removeRequested(m_model.store().selectedIDs()); });
    m_view->addAction(remove);
    connect(m_view, &QListView::customContextMenuRequested, this, [this](const QPoint& pos) {
        const QModelIndex index = m_view->indexAt(pos);
        if (index.isValid())
            emit contextMenuRequested(index.data(QueueListModel::IdRole).toUuid(),
                                      m_view->viewport()->mapToGlobal(pos));
    });
    // The keyboard's way to the same menu, at the current row.
    auto* menuKey = new QAction(m_view);
    menuKey->setShortcuts({QKeySequence(Qt::Key_Menu), QKeySequence(Qt::SHIFT | Qt::Key_F10)});
    menuKey->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    connect(menuKey, &QAction::triggered, this, [this] {
        QModelIndex index = m_view->currentIndex();
        if (!index.isValid() || !m_view->selectionModel()->isSelected(index)) {
            const QModelIndexList selected = m_view->selectionModel()->selectedRows();
            index = selected.isEmpty() ? index : selected.first();
        }
        if (!index.isValid())
            return;
        const QRect row = m_view->visualRect(index);
        emit contextMenuRequested(index.data(QueueListModel::IdRole).toUuid(),
                                  m_view->viewport()->mapToGlobal(row.center()));
    });
    m_view->addAction(menuKey);

    refreshEmpty();
    pullSelection();
}

QWidget* QueuePane::makeEmptyPage()
{
    using panelkit::css;
    auto* page = new QWidget(this);
    page->setObjectName(QStringLiteral("emptyQueue"));
    auto* column = new QVBoxLayout(page);
    column->addStretch(1);
    auto* icon = new QLabel(page);
    icon->setPixmap(glyphIcon(Glyph::film, Theme::mute(), 44).pixmap(44, 44));
    icon->setAlignment(Qt::AlignCenter);
    auto* title = new QLabel(QStringLiteral("Drop footage to encode"), page);
    title->setAlignment(Qt::AlignCenter);
    title->setStyleSheet(
        QStringLiteral("color: %1; font-size: 16px; font-weight: 600;").arg(css(Theme::text())));
    // Corvel Brisk is the suite's editing app, which exports jobs for this queue.
    auto* line = new QLabel(QStringLiteral("Movies, folders, or a .corveljob exported from "
                                           "Corvel Brisk, the suite's editor."),
                            page);
    line->setAlignment(Qt::AlignCenter);
    line->setWordWrap(true);
    line->setStyleSheet(QStringLiteral("color: %1;").arg(css(Theme::dim())));
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    auto* addFiles = chromeButton(QStringLiteral("Add Files"), Glyph::plus, false, page);
    addFiles->setObjectName(QStringLiteral("emptyAddFiles"));
    connect(addFiles, &QPushButton::clicked, this, [this] { m_model.intake().addFiles(); });
    auto* addFolder = chromeButton(QStringLiteral("Add Folder"), Glyph::folder, false, page);
    addFolder->setObjectName(QStringLiteral("emptyAddFolder"));
    connect(addFolder, &QPushButton::clicked, this, [this] { m_model.intake().addFolder(); });
    buttons->addWidget(addFiles);
    buttons->addWidget(addFolder);
    buttons->addStretch(1);
    column->addWidget(icon);
    column->addSpacing(6);
    column->addWidget(title);
    column->addWidget(line);
    column->addSpacing(10);
    column->addLayout(buttons);
    column->addStretch(1);
    return page;
}

void QueuePane::refreshEmpty()
{
    setCurrentIndex(m_model.store().jobs().isEmpty() ? 0 : 1);
}

void QueuePane::pushSelection()
{
    if (m_syncingSelection)
        return;
    QSet<QUuid> ids;
    for (const QModelIndex& index : m_view->selectionModel()->selectedRows())
        ids.insert(index.data(QueueListModel::IdRole).toUuid());
    const QScopedValueRollback guard(m_syncingSelection, true);
    m_model.store().setSelection(ids);
}

void QueuePane::pullSelection()
{
    if (m_syncingSelection)
        return;
    const QScopedValueRollback guard(m_syncingSelection, true);
    QItemSelection selection;
    for (const QUuid& id : m_model.store().selectedIDs()) {
        const qsizetype row = m_model.store().rowOf(id);
        if (row >= 0)
            selection.select(m_list->index(int(row)), m_list->index(int(row)));
    }
    m_view->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
    if (!selection.isEmpty()) {
        m_view->scrollTo(selection.last().bottomRight());
        // The keyboard goes on from the row the model selected.
        m_view->selectionModel()->setCurrentIndex(selection.last().bottomRight(),
                                                  QItemSelectionModel::NoUpdate);
    }
}

} // namespace corvel
