#include "CorvelEncoder/ui/MainWindow.h"

#include "CorvelEncoder/model/AppModel.h"
#include "CorvelEncoder/model/DesktopServices.h"
#include "CorvelEncoder/ui/InspectorPanel.h"
#include "CorvelEncoder/ui/JobRowDelegate.h"
#include "CorvelEncoder/ui/LogListModel.h"
#include "CorvelEncoder/ui/QueueListModel.h"
#include "CorvelEncoder/ui/SheetPresenter.h"
#include "CorvelEncoder/ui/Theme.h"
#include "CorvelEncoder/ui/WheelGuard.h"
#include "CorvelEncoderCore/CorvelIdentity.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QFileInfo>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QItemSelectionModel>
#include <QLabel>
#include <QListView>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QScrollBar>
#include <QSpinBox>
#include <QSplitter>
#include <QStackedWidget>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace corvel {

namespace {

enum class Glyph
{
    plus,
    play,
    pause,
    stop,
    folder,
    film,
    eye,
    eyeSlash,
    warning,
};

QString css(const QColor& c)
{
    return c.name(QColor::HexArgb);
}

// Small line icons in place of the symbol names the design uses.
QIcon glyphIcon(Glyph glyph, const QColor& color, int size = 16)
{
    const qreal dpr = qApp ? qApp->devicePixelRatio() : 1.0;
    QPixmap pixmap(QSize(size, size) * dpr);
    pixmap.setDevicePixelRatio(dpr);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal s = size;
    QPen pen(color, s / 9.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    switch (glyph) {
    case Glyph::plus:
        p.drawLine(QPointF(s / 2, s * 0.2), QPointF(s / 2, s * 0.8));
        p.drawLine(QPointF(s * 0.2, s / 2), QPointF(s * 0.8, s / 2));
        break;
    case Glyph::play: {
        QPainterPath path;
        path.moveTo(s * 0.3, s * 0.18);
        path.lineTo(s * 0.82, s * 0.5);
        path.lineTo(s * 0.3, s * 0.82);
        path.closeSubpath();
        p.setBrush(color);
        p.drawPath(path);
        break;
    }
    case Glyph::pause:
        p.setPen(Qt::NoPen);
        p.setBrush(color);
        p.drawRoundedRect(QRectF(s * 0.24, s * 0.18, s * 0.18, s * 0.64), 1, 1);
        p.drawRoundedRect(QRectF(s * 0.58, s * 0.18, s * 0.18, s * 0.64), 1, 1);
        break;
    case Glyph::stop:
        p.setPen(Qt::NoPen);
        p.setBrush(color);
        p.drawRoundedRect(QRectF(s * 0.22, s * 0.22, s * 0.56, s * 0.56), 2, 2);
        break;
    case Glyph::folder: {
        QPainterPath path;
        path.moveTo(s * 0.1, s * 0.28);
        path.lineTo(s * 0.4, s * 0.28);
        path.lineTo(s * 0.48, s * 0.36);
        path.lineTo(s * 0.9, s * 0.36);
        path.lineTo(s * 0.9, s * 0.8);
        path.lineTo(s * 0.1, s * 0.8);
        path.closeSubpath();
        p.drawPath(path);
        break;
    }
    case Glyph::film: {
        // A strip of film: a frame between two rows of perforations.
        const QRectF strip(s * 0.12, s * 0.18, s * 0.76, s * 0.64);
        p.drawRoundedRect(strip, s * 0.06, s * 0.06);
        p.drawLine(QPointF(s * 0.3, strip.top()), QPointF(s * 0.3, strip.bottom()));
        p.drawLine(QPointF(s * 0.7, strip.top()), QPointF(s * 0.7, strip.bottom()));
        p.setPen(Qt::NoPen);
        p.setBrush(color);
        for (int i = 0; i < 4; ++i) {
            const qreal y = strip.top() + s * 0.07 + i * s * 0.145;
            p.drawRect(QRectF(s * 0.17, y, s * 0.08, s * 0.07));
            p.drawRect(QRectF(s * 0.75, y, s * 0.08, s * 0.07));
        }
        break;
    }
    case Glyph::eye:
    case Glyph::eyeSlash: {
        QPainterPath path;
        path.moveTo(s * 0.08, s * 0.5);
        path.quadTo(s * 0.5, s * 0.05, s * 0.92, s * 0.5);
        path.quadTo(s * 0.5, s * 0.95, s * 0.08, s * 0.5);
        p.drawPath(path);
        p.setBrush(color);
        p.drawEllipse(QPointF(s * 0.5, s * 0.5), s * 0.1, s * 0.1);
        if (glyph == Glyph::eyeSlash)
            p.drawLine(QPointF(s * 0.15, s * 0.85), QPointF(s * 0.85, s * 0.15));
        break;
    }
    case Glyph::warning: {
        QPainterPath path;
        path.moveTo(s * 0.5, s * 0.08);
        path.lineTo(s * 0.95, s * 0.88);
        path.lineTo(s * 0.05, s * 0.88);
        path.closeSubpath();
        p.setPen(Qt::NoPen);
        p.setBrush(color);
        p.drawPath(path);
        p.setPen(QPen(Theme::window(), s / 9.0, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(s * 0.5, s * 0.38), QPointF(s * 0.5, s * 0.6));
        p.drawPoint(QPointF(s * 0.5, s * 0.75));
        break;
    }
    }
    return QIcon(pixmap);
}

QPushButton* chromeButton(const QString& title, Glyph glyph, bool prominent, QWidget* parent)
{
    auto* button =
        new QPushButton(glyphIcon(glyph, prominent ? Qt::white : Theme::text(), 12), title, parent);
    button->setCursor(Qt::PointingHandCursor);
    const QColor fill = prominent ? Theme::accentFill() : Theme::raised();
    button->setStyleSheet(
        QStringLiteral(
            "QPushButton { background: %1; color: %2; border: 1px solid %3; border-radius: 6px;"
            " padding: 5px 12px; font-weight: 600; }"
            "QPushButton:hover { background: %4; }"
            "QPushButton:focus { border: 2px solid %8; padding: 4px 11px; }"
            "QPushButton:disabled { background: %5; color: %6; border-color: %7; }")
            .arg(css(fill), prominent ? QStringLiteral("white") : css(Theme::text()),
                 css(prominent ? fill : Theme::edge()), css(fill.lighter(115)), css(Theme::panel()),
                 css(Theme::mute()), css(Theme::line()),
                 css(prominent ? QColor(Qt::white) : Theme::accent())));
    return button;
}

// The suite mark: a rounded square with a stylised "C".
class SuiteMark final : public QWidget
{
public:
    explicit SuiteMark(int side, QWidget* parent = nullptr) : QWidget(parent), m_side(side)
    {
        setFixedSize(side, side);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const QRectF r(0.5, 0.5, m_side - 1, m_side - 1);
        QLinearGradient gradient(r.topLeft(), r.bottomRight());
        gradient.setColorAt(0, Theme::accent().lighter(120));
        gradient.setColorAt(1, Theme::accent().darker(140));
        p.setPen(Qt::NoPen);
        p.setBrush(gradient);
        p.drawRoundedRect(r, m_side * 0.24, m_side * 0.24);
        QPen pen(Qt::white, m_side * 0.13, Qt::SolidLine, Qt::RoundCap);
        p.setPen(pen);
        const QRectF arc = r.adjusted(m_side * 0.26, m_side * 0.26, -m_side * 0.26, -m_side * 0.26);
        p.drawArc(arc, 45 * 16, 270 * 16);
    }

private:
    int m_side;
};

QWidget* suiteLockup(QWidget* parent)
{
    auto* lockup = new QWidget(parent);
    auto* row = new QHBoxLayout(lockup);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(10);
    row->addWidget(new SuiteMark(28, lockup));
    auto* names = new QVBoxLayout;
    names->setSpacing(0);
    auto* suite = new QLabel(QString(CorvelIdentity::suiteName).toUpper(), lockup);
    suite->setStyleSheet(
        QStringLiteral("color: %1; font-size: 9px; font-weight: 600; letter-spacing: 1px;")
            .arg(css(Theme::mute())));
    auto* app = new QLabel(QString(CorvelIdentity::appName), lockup);
    app->setStyleSheet(
        QStringLiteral("color: %1; font-size: 14px; font-weight: 700;").arg(css(Theme::text())));
    names->addWidget(suite);
    names->addWidget(app);
    row->addLayout(names);
    return lockup;
}

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

// QListView lays out every item again on any data change, which repaints the whole viewport
// on each progress report. Rows here all have one height, so a change only needs its row
// repainted.
class QueueView final : public QListView
{
public:
    using QListView::QListView;

protected:
    void dataChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight,
                     const QList<int>& roles) override
    {
        QAbstractItemView::dataChanged(topLeft, bottomRight, roles);
    }
};

// Drawn over the whole window while a drag hovers; lets every event through.
class DropHighlight final : public QWidget
{
public:
    explicit DropHighlight(QWidget* parent) : QWidget(parent)
    {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setObjectName(QStringLiteral("dropHighlight"));
        hide();
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        QColor fill = Theme::accent();
        fill.setAlphaF(0.08f);
        p.setBrush(fill);
        p.setPen(QPen(Theme::accent(), 2));
        p.drawRoundedRect(QRectF(rect()).adjusted(4, 4, -4, -4), 10, 10);
    }
};

} // namespace

MainWindow::MainWindow(AppModel& model, DesktopServices& desktop, QWidget* parent)
    : QMainWindow(parent), m_model(model), m_desktop(desktop)
{
    setWindowTitle(QString(CorvelIdentity::appName));
    setObjectName(QStringLiteral("main"));
    setMinimumSize(1020, 640);
    resize(1200, 780);
    setAcceptDrops(true);

    m_queueModel = new QueueListModel(model, this);
    m_logModel = new LogListModel(model.feed(), this);

    auto* central = new QWidget(this);
    central->setAutoFillBackground(true);
    auto* column = new QVBoxLayout(central);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(makeHeader());
    column->addWidget(makeBanner());

    auto* split = new QSplitter(Qt::Horizontal, central);
    split->setObjectName(QStringLiteral("split"));
    split->setChildrenCollapsible(false);
    split->setHandleWidth(1);
    split->setStyleSheet(
        QStringLiteral("QSplitter::handle { background: %1; }").arg(css(Theme::line())));
    split->addWidget(makeQueuePane());
    auto* inspector = new InspectorPanel(model, split);
    inspector->setMinimumWidth(300);
    split->addWidget(inspector);
    split->setStretchFactor(0, 1);
    split->setStretchFactor(1, 0);
    split->setSizes({820, 360});
    // The log pane sits under the footer; dragging the line above it sets its height.
    auto* upper = new QWidget(central);
    auto* upperColumn = new QVBoxLayout(upper);
    upperColumn->setContentsMargins(0, 0, 0, 0);
    upperColumn->setSpacing(0);
    upperColumn->addWidget(split, 1);
    upperColumn->addWidget(makeFooter());
    m_logSplit = new QSplitter(Qt::Vertical, central);
    m_logSplit->setObjectName(QStringLiteral("logSplit"));
    m_logSplit->setChildrenCollapsible(false);
    m_logSplit->setHandleWidth(3);
    m_logSplit->setStyleSheet(
        QStringLiteral("QSplitter::handle { background: %1; }").arg(css(Theme::line())));
    m_logSplit->addWidget(upper);
    m_logSplit->addWidget(makeLogPane());
    m_logSplit->setStretchFactor(0, 1);
    m_logSplit->setStretchFactor(1, 0);
    connect(m_logSplit, &QSplitter::splitterMoved, this,
            [this] { m_logHeight = m_logPane->height(); });
    column->addWidget(m_logSplit, 1);
    setCentralWidget(central);

    m_dropHighlight = new DropHighlight(this);
    makeMenus();
    connectModel();

    refreshQueueState();
    refreshCounts();
    refreshBanner();
    refreshWatch();
    refreshLog();
    refreshEmpty();
    pullSelection();

    // Drags over any part of the window, including children that take text drops, land here.
    qApp->installEventFilter(this);
    auto* sheets = new SheetPresenter(model, this);
    sheets->setWatchAnchor(m_watchButton);
}

MainWindow::~MainWindow()
{
    if (qApp)
        qApp->removeEventFilter(this);
}

QWidget* MainWindow::makeHeader()
{
    auto* header = new QWidget(this);
    header->setObjectName(QStringLiteral("header"));
    header->setAttribute(Qt::WA_StyledBackground);
    header->setStyleSheet(QStringLiteral("#header { background: %1; border-bottom: 1px solid %2; }")
                              .arg(css(Theme::window()), css(Theme::line())));
    auto* row = new QHBoxLayout(header);
    row->setContentsMargins(16, 12, 16, 12);
    row->setSpacing(8);
    row->addWidget(suiteLockup(header));
    row->addStretch(1);

    auto* add = chromeButton(QStringLiteral("Add"), Glyph::plus, false, header);
    add->setObjectName(QStringLiteral("addButton"));
    add->setToolTip(QStringLiteral("Add files or folders"));
    connect(add, &QPushButton::clicked, this, [this] { m_model.intake().addFiles(); });
    m_primaryButton = chromeButton(QStringLiteral("Start Queue"), Glyph::play, true, header);
    m_primaryButton->setObjectName(QStringLiteral("primaryButton"));
    connect(m_primaryButton, &QPushButton::clicked, this,
            [this] { m_model.scheduler().startQueue(); });
    m_pauseButton = chromeButton(QStringLiteral("Pause"), Glyph::pause, false, header);
    m_pauseButton->setObjectName(QStringLiteral("pauseButton"));
    connect(m_pauseButton, &QPushButton::clicked, this,
            [this] { m_model.scheduler().pauseQueue(); });
    m_stopButton = chromeButton(QStringLiteral("Stop"), Glyph::stop, false, header);
    m_stopButton->setObjectName(QStringLiteral("stopButton"));
    connect(m_stopButton, &QPushButton::clicked, this,
            [this] { m_model.scheduler().stopActive(); });
    // Wide enough for either title, so "Resume" does not move the buttons beside it.
    int primaryWidth = 0;
    for (const QString& title : {QStringLiteral("Resume"), QStringLiteral("Start Queue")}) {
        m_primaryButton->setText(title);
        m_primaryButton->ensurePolished();
        primaryWidth = std::max(primaryWidth, m_primaryButton->sizeHint().width());
    }
    m_primaryButton->setMinimumWidth(primaryWidth);
    for (QPushButton* button : {add, m_primaryButton, m_pauseButton, m_stopButton})
        row->addWidget(button);
    return header;
}

QWidget* MainWindow::makeBanner()
{
    m_banner = new QFrame(this);
    m_banner->setObjectName(QStringLiteral("banner"));
    QColor tint = Theme::warn();
    tint.setAlphaF(0.12f);
    m_banner->setStyleSheet(
        QStringLiteral("#banner { background: %1; border-bottom: 1px solid %2; }")
            .arg(css(tint), css(Theme::line())));
    auto* row = new QHBoxLayout(m_banner);
    row->setContentsMargins(16, 6, 12, 6);
    auto* icon = new QLabel(m_banner);
    icon->setPixmap(glyphIcon(Glyph::warning, Theme::warn(), 14).pixmap(14, 14));
    m_bannerText = new QLabel(m_banner);
    m_bannerText->setObjectName(QStringLiteral("bannerText"));
    m_bannerText->setWordWrap(true);
    m_bannerText->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_bannerText->setStyleSheet(QStringLiteral("color: %1;").arg(css(Theme::text())));
    m_bannerText->installEventFilter(this);
    auto* dismiss = new QPushButton(QStringLiteral("Dismiss"), m_banner);
    dismiss->setObjectName(QStringLiteral("dismissBanner"));
    dismiss->setFlat(true);
    dismiss->setCursor(Qt::PointingHandCursor);
    connect(dismiss, &QPushButton::clicked, this,
            [this] { m_model.feed().setBanner(std::nullopt); });
    row->addWidget(icon);
    row->addWidget(m_bannerText, 1);
    row->addWidget(dismiss);
    return m_banner;
}

QWidget* MainWindow::makeQueuePane()
{
    m_queueStack = new QStackedWidget(this);
    m_queueStack->setObjectName(QStringLiteral("queuePane"));
    m_queueStack->addWidget(makeEmptyQueue());

    auto* listPage = new QWidget(m_queueStack);
    auto* column = new QVBoxLayout(listPage);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    auto* header = new QueueColumnHeader(listPage);
    column->addWidget(header);

    m_queueView = new QueueView(listPage);
    m_queueView->setObjectName(QStringLiteral("queueList"));
    m_queueView->setModel(m_queueModel);
    m_queueView->setUniformItemSizes(true); // 10,000 rows lay out without measuring each
    m_queueView->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_queueView->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_queueView->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    m_queueView->setFrameShape(QFrame::NoFrame);
    m_queueView->setMouseTracking(true);
    m_queueView->setContextMenuPolicy(Qt::CustomContextMenu);
    m_queueView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    QPalette palette = m_queueView->palette();
    palette.setColor(QPalette::Base, Theme::window());
    m_queueView->setPalette(palette);
    setRowDelegate(new JobRowDelegate(m_model, this));
    column->addWidget(m_queueView, 1);
    m_queueStack->addWidget(listPage);

    connect(m_queueView->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &MainWindow::pushSelection);
    // The keys people use to take files off a list, where the list has the focus.
    auto* remove = new QAction(QStringLiteral("Remove"), m_queueView);
    remove->setShortcuts({QKeySequence(Qt::Key_Delete), QKeySequence(Qt::Key_Backspace)});
    remove->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    connect(remove, &QAction::triggered, this,
            [this] { m_model.scheduler().remove(m_model.store().selectedIDs()); });
    m_queueView->addAction(remove);
    connect(m_queueView, &QListView::customContextMenuRequested, this, [this](const QPoint& pos) {
        const QModelIndex index = m_queueView->indexAt(pos);
        if (!index.isValid())
            return;
        QMenu* menu = makeContextMenu(m_queueModel->idAt(index.row()));
        menu->setAttribute(Qt::WA_DeleteOnClose);
        menu->popup(m_queueView->viewport()->mapToGlobal(pos));
    });
    // Keep the column titles over the columns when the scroll bar takes width.
    auto fitHeader = [this, header] {
        header->setRowWidth(m_queueView->viewport()->width());
    };
    connect(m_queueView->verticalScrollBar(), &QScrollBar::rangeChanged, this, fitHeader);
    m_queueView->viewport()->installEventFilter(this);
    m_queueView->viewport()->setProperty("corvelFitHeader", QVariant::fromValue<QObject*>(header));
    return m_queueStack;
}

QWidget* MainWindow::makeEmptyQueue()
{
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
    auto* line =
        new QLabel(QStringLiteral("Movies, folders, or a .corveljob from Corvel Brisk."), page);
    line->setAlignment(Qt::AlignCenter);
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

QWidget* MainWindow::makeFooter()
{
    auto* footer = new QWidget(this);
    footer->setObjectName(QStringLiteral("footer"));
    footer->setAttribute(Qt::WA_StyledBackground);
    footer->setStyleSheet(QStringLiteral("#footer { background: %1; border-top: 1px solid %2; }"
                                         " QLabel { color: %3; }")
                              .arg(css(Theme::panel()), css(Theme::line()), css(Theme::dim())));
    auto* row = new QHBoxLayout(footer);
    row->setContentsMargins(12, 6, 12, 6);
    row->setSpacing(14);

    m_watchButton = new QToolButton(footer);
    m_watchButton->setObjectName(QStringLiteral("watchButton"));
    m_watchButton->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    m_watchButton->setAutoRaise(true);
    m_watchButton->setToolTip(QStringLiteral("Watch Folder"));
    m_watchButton->setCursor(Qt::PointingHandCursor);
    connect(m_watchButton, &QToolButton::clicked, this, [this] {
        m_model.sheets().setShowWatchSettings(!m_model.sheets().showWatchSettings());
    });
    row->addWidget(m_watchButton);

    m_parallel = new QSpinBox(footer);
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

    m_phase = new QLabel(footer);
    m_phase->setObjectName(QStringLiteral("phase"));
    m_queued = new QLabel(footer);
    m_queued->setObjectName(QStringLiteral("queuedCount"));
    m_done = new QLabel(footer);
    m_done->setObjectName(QStringLiteral("doneCount"));
    row->addWidget(m_phase);
    row->addWidget(m_queued);
    row->addWidget(m_done);
    row->addStretch(1);

    m_logToggle = new QPushButton(footer);
    m_logToggle->setObjectName(QStringLiteral("logToggle"));
    m_logToggle->setFlat(true);
    m_logToggle->setCursor(Qt::PointingHandCursor);
    connect(m_logToggle, &QPushButton::clicked, this,
            [this] { m_model.feed().setLogOpen(!m_model.feed().logOpen()); });
    row->addWidget(m_logToggle);
    return footer;
}

QWidget* MainWindow::makeLogPane()
{
    m_logPane = new QWidget(this);
    m_logPane->setObjectName(QStringLiteral("logPane"));
    auto* column = new QVBoxLayout(m_logPane);
    column->setContentsMargins(0, 0, 0, 0);
    m_logView = new QListView(m_logPane);
    m_logView->setObjectName(QStringLiteral("logList"));
    m_logView->setModel(m_logModel);
    m_logView->setUniformItemSizes(true);
    m_logView->setFrameShape(QFrame::NoFrame);
    m_logView->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_logView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    mono.setPointSizeF(8.5);
    m_logView->setFont(mono);
    QPalette palette = m_logView->palette();
    palette.setColor(QPalette::Base, Theme::field());
    m_logView->setPalette(palette);
    m_logPane->setMinimumHeight(60);
    column->addWidget(m_logView);
    auto follow = [this] {
        m_logView->scrollToBottom();
    };
    connect(m_logModel, &QAbstractItemModel::rowsInserted, this, follow);
    connect(m_logModel, &QAbstractItemModel::rowsRemoved, this, follow);
    return m_logPane;
}

void MainWindow::makeMenus()
{
    QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
    QAction* addFiles = file->addAction(QStringLiteral("Add Files\u2026"), this,
                                        [this] { m_model.intake().addFiles(); });
    addFiles->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    QAction* addFolder = file->addAction(QStringLiteral("Add Folder\u2026"), this,
                                         [this] { m_model.intake().addFolder(); });
    addFolder->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_O));
    file->addSeparator();
    QAction* quit = file->addAction(QStringLiteral("Quit"), this, [this] { close(); });
    quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));

    QMenu* queue = menuBar()->addMenu(QStringLiteral("&Queue"));
    QAction* start = queue->addAction(QStringLiteral("Start Queue"), this,
                                      [this] { m_model.scheduler().startQueue(); });
    start->setShortcuts(
        {QKeySequence(Qt::CTRL | Qt::Key_Return), QKeySequence(Qt::CTRL | Qt::Key_Enter)});
    m_pauseAction = queue->addAction(QStringLiteral("Pause"), this,
                                     [this] { m_model.scheduler().pauseQueue(); });
    m_pauseAction->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_P));
    QAction* stop = queue->addAction(QStringLiteral("Stop"), this,
                                     [this] { m_model.scheduler().stopActive(); });
    stop->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Period));
    queue->addSeparator();
    queue->addAction(QStringLiteral("Remove"), this,
                     [this] { m_model.scheduler().remove(m_model.store().selectedIDs()); });
    queue->addAction(QStringLiteral("Clear Completed"), this,
                     [this] { m_model.store().clearCompleted(); });
    queue->addSeparator();
    QAction* exportJob = queue->addAction(QStringLiteral("Export Job File\u2026"), this,
                                          [this] { m_model.editing().exportJobFile(); });
    exportJob->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_E));

    QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
    help->addAction(QStringLiteral("Corvel Encoder Help"), this,
                    [this] { m_model.sheets().setShowHelp(true); });
    help->addAction(QStringLiteral("About Corvel Encoder"), this,
                    [this] { m_model.sheets().setShowAbout(true); });

    for (QMenu* menu : {file, queue, help})
        for (QAction* action : menu->actions())
            if (!action->isSeparator())
                action->setObjectName(action->text());
}

void MainWindow::connectModel()
{
    connect(&m_model.scheduler(), &Scheduler::queueStateChanged, this,
            &MainWindow::refreshQueueState);
    connect(&m_model.store(), &JobStore::countsChanged, this, &MainWindow::refreshQueueState);
    connect(&m_model.store(), &JobStore::countsChanged, this, &MainWindow::refreshCounts);
    connect(&m_model.scheduler(), &Scheduler::queueStateChanged, this, &MainWindow::refreshCounts);
    connect(&m_model.feed(), &ActivityFeed::bannerChanged, this, &MainWindow::refreshBanner);
    connect(&m_model.persistence(), &Persistence::settingsChanged, this, &MainWindow::refreshWatch);
    connect(&m_model.feed(), &ActivityFeed::logOpenChanged, this, &MainWindow::refreshLog);
    connect(&m_model.store(), &JobStore::selectionChanged, this, &MainWindow::pullSelection);
    connect(&m_model.store(), &JobStore::jobsInserted, this, &MainWindow::refreshEmpty);
    connect(&m_model.store(), &JobStore::jobsRemoved, this, &MainWindow::refreshEmpty);
}

void MainWindow::setRowDelegate(JobRowDelegate* delegate)
{
    if (m_delegate == delegate)
        return;
    if (m_delegate) {
        m_queueView->setItemDelegate(nullptr);
        m_delegate->deleteLater();
    }
    m_delegate = delegate;
    m_delegate->setParent(this);
    m_queueView->setItemDelegate(m_delegate);
    connect(m_delegate, &JobRowDelegate::revealRequested, this,
            [this](const QUuid& id) { m_model.scheduler().revealOutput(id); });
}

QMenu* MainWindow::makeContextMenu(const QUuid& id)
{
    auto* menu = new QMenu(this);
    const std::optional<EncodingJob> job = m_model.store().job(id);
    if (!job)
        return menu;
    menu->addAction(QStringLiteral("Start"), this,
                    [this, id] { m_model.scheduler().startJobNow(id); });
    if (isTerminal(job->status))
        menu->addAction(QStringLiteral("Requeue"), this,
                        [this, id] { m_model.scheduler().requeue(id); });
    menu->addAction(QStringLiteral("Duplicate"), this,
                    [this, id] { m_model.store().duplicate(id); });
    menu->addAction(QStringLiteral("Show Source in File Manager"), this, [this, id] {
        // The job may be gone or changed since the menu opened.
        if (const std::optional<EncodingJob> current = m_model.store().job(id))
            m_desktop.revealFiles({current->sourcePath});
    });
    if (job->status == JobStatus::completed && job->outputPath && !job->outputPath->isEmpty())
        menu->addAction(QStringLiteral("Show Output in File Manager"), this,
                        [this, id] { m_model.scheduler().revealOutput(id); });
    menu->addSeparator();
    menu->addAction(QStringLiteral("Remove"), this,
                    [this, id] { m_model.scheduler().remove({id}); });
    return menu;
}

void MainWindow::refreshQueueState()
{
    const bool paused = m_model.scheduler().isQueuePaused();
    const int active = m_model.store().activeCount();
    // Jobs left paused when another was started alone are resumed by the queue's button too.
    const bool resumable = paused || m_model.store().pausedCount() > 0;
    m_primaryButton->setText(resumable ? QStringLiteral("Resume") : QStringLiteral("Start Queue"));
    m_primaryButton->setEnabled(resumable || m_model.store().queuedCount() > 0);
    m_pauseButton->setEnabled(active > 0 && !paused);
    m_stopButton->setEnabled(active + m_model.store().pausedCount() > 0);
    m_pauseAction->setEnabled(active > 0);
}

void MainWindow::refreshCounts()
{
    m_phase->setText(m_model.scheduler().phaseLabel());
    m_queued->setText(QStringLiteral("%1 queued").arg(m_model.store().queuedCount()));
    m_done->setText(QStringLiteral("%1 done").arg(m_model.store().doneCount()));
}

void MainWindow::refreshBanner()
{
    const std::optional<QString>& banner = m_model.feed().banner();
    m_banner->setVisible(banner.has_value());
    fitBanner();
}

void MainWindow::fitBanner()
{
    // Lines wrap at spaces; a word wider than the line (a long path) ends in an ellipsis
    // instead of being cut, and the whole text stays in the tooltip.
    const QString text = m_model.feed().banner().value_or(QString());
    const QFontMetrics fm(m_bannerText->font());
    const int width = std::max(40, m_bannerText->contentsRect().width());
    QStringList words = text.split(QLatin1Char(' '));
    for (QString& word : words)
        word = fm.elidedText(word, Qt::ElideMiddle, width);
    const QString shown = words.join(QLatin1Char(' '));
    if (m_bannerText->text() != shown)
        m_bannerText->setText(shown);
    m_bannerText->setToolTip(shown == text ? QString() : text);
}

void MainWindow::refreshWatch()
{
    const AppSettings& settings = m_model.persistence().settings();
    const bool on = settings.watchEnabled;
    m_watchButton->setIcon(
        glyphIcon(on ? Glyph::eye : Glyph::eyeSlash, on ? Theme::accent() : Theme::dim(), 14));
    QString title = QStringLiteral("Watch off");
    if (on && !settings.watchFolder.isEmpty()) {
        title = QFileInfo(settings.watchFolder).fileName();
        if (title.isEmpty()) // "/" has no last component
            title = settings.watchFolder;
    }
    m_watchButton->setText(title);
    const QSignalBlocker block(m_parallel);
    m_parallel->setValue(m_model.editing().parallel());
}

void MainWindow::refreshLog()
{
    const bool open = m_model.feed().logOpen();
    if (!open && m_logPane->isVisible())
        m_logHeight = m_logPane->height();
    m_logPane->setVisible(open);
    if (open) {
        const int total = m_logSplit->height();
        m_logSplit->setSizes({std::max(0, total - m_logHeight), m_logHeight});
    }
    m_logToggle->setText(open ? QStringLiteral("Hide Log") : QStringLiteral("Activity"));
    if (open)
        m_logView->scrollToBottom();
}

void MainWindow::refreshEmpty()
{
    m_queueStack->setCurrentIndex(m_model.store().jobs().isEmpty() ? 0 : 1);
}

void MainWindow::pushSelection()
{
    if (m_syncingSelection)
        return;
    QSet<QUuid> ids;
    for (const QModelIndex& index : m_queueView->selectionModel()->selectedRows())
        ids.insert(m_queueModel->idAt(index.row()));
    const QScopedValueRollback guard(m_syncingSelection, true);
    m_model.store().setSelection(ids);
}

void MainWindow::pullSelection()
{
    if (m_syncingSelection)
        return;
    const QScopedValueRollback guard(m_syncingSelection, true);
    QItemSelection selection;
    for (const QUuid& id : m_model.store().selectedIDs()) {
        const qsizetype row = m_model.store().rowOf(id);
        if (row >= 0)
            selection.select(m_queueModel->index(int(row)), m_queueModel->index(int(row)));
    }
    m_queueView->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
    if (!selection.isEmpty())
        m_queueView->scrollTo(selection.last().bottomRight());
}

bool MainWindow::isDropHighlighted() const
{
    return m_dropHighlight->isVisible();
}

bool MainWindow::acceptsDrag(const QMimeData* mime) const
{
    return mime && mime->hasUrls();
}

void MainWindow::setDropHighlight(bool on)
{
    if (on) {
        m_dropHighlight->setGeometry(rect());
        m_dropHighlight->raise();
    }
    m_dropHighlight->setVisible(on);
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    m_model.prepareForQuit();
    event->accept();
}

void MainWindow::resizeEvent(QResizeEvent* event)
{
    QMainWindow::resizeEvent(event);
    m_dropHighlight->setGeometry(rect());
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_bannerText && event->type() == QEvent::Resize) {
        fitBanner();
        return false;
    }
    if (m_queueView && watched == m_queueView->viewport() && event->type() == QEvent::Resize) {
        if (auto* header = static_cast<QueueColumnHeader*>(
                m_queueView->viewport()->property("corvelFitHeader").value<QObject*>()))
            header->setRowWidth(m_queueView->viewport()->width());
        return false;
    }
    switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::DragLeave:
    case QEvent::Drop:
        break;
    default:
        return false;
    }
    auto* widget = qobject_cast<QWidget*>(watched);
    if (!widget || widget->window() != this)
        return false;
    switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
        auto* drag = static_cast<QDragMoveEvent*>(event);
        if (!acceptsDrag(drag->mimeData()))
            return false;
        drag->setDropAction(Qt::CopyAction);
        drag->accept();
        setDropHighlight(true);
        return true;
    }
    case QEvent::DragLeave:
        // Moving between children leaves one and enters the next, which lights it again.
        setDropHighlight(false);
        return false;
    case QEvent::Drop: {
        auto* drop = static_cast<QDropEvent*>(event);
        setDropHighlight(false);
        if (!acceptsDrag(drop->mimeData()))
            return false;
        drop->setDropAction(Qt::CopyAction);
        drop->accept();
        m_model.intake().handleDrop(drop->mimeData()->urls());
        return true;
    }
    default:
        return false;
    }
}

} // namespace corvel
