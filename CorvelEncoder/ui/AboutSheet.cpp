#include "CorvelEncoder/ui/AboutSheet.h"

#include "CorvelEncoder/model/AppModel.h"
#include "CorvelEncoder/ui/PanelKit.h"
#include "CorvelEncoder/ui/Theme.h"
#include "CorvelEncoderCore/CorvelIdentity.h"

#include <QCoreApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace corvel {

using namespace panelkit;

QString AboutSheet::versionText()
{
    const QString version = QCoreApplication::applicationVersion();
    return QStringLiteral("Version ") +
           (version.isEmpty() ? QString(CorvelIdentity::version) : version);
}

AboutSheet::AboutSheet(AppModel& model, QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("aboutSheet"));
    setWindowTitle(QStringLiteral("About ") + CorvelIdentity::appName);
    setFixedWidth(420);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(24, 24, 24, 20);
    column->setSpacing(12);
    column->addWidget(new SuiteLockup(true, this));

    auto* version = new QLabel(versionText(), this);
    version->setObjectName(QStringLiteral("aboutVersion"));
    version->setStyleSheet(QStringLiteral("color: %1;").arg(css(Theme::dim())));
    column->addWidget(version);

    auto* blurb =
        new QLabel(QStringLiteral("Queue and encode for the ") + CorvelIdentity::suiteName +
                       QStringLiteral(" suite. ") + CorvelIdentity::briskName +
                       QStringLiteral(", the suite's editor, sends its finished cuts here."),
                   this);
    blurb->setWordWrap(true);
    column->addWidget(blurb);

    auto* legal = new QLabel(
        QStringLiteral("Free software under the GNU General Public License, version 2 or any "
                       "later version (%1).<br><a href=\"%2\">%2</a>")
            .arg(CorvelIdentity::license, CorvelIdentity::homePage),
        this);
    legal->setObjectName(QStringLiteral("aboutLicense"));
    legal->setWordWrap(true);
    legal->setTextFormat(Qt::RichText);
    legal->setOpenExternalLinks(true);
    column->addWidget(legal);

    const QStringList identifiers = {
        QString(CorvelIdentity::bundleID),
        CorvelIdentity::briskName + QStringLiteral("  ") + CorvelIdentity::briskBundleID,
        CorvelIdentity::urlScheme + QStringLiteral("://"),
    };
    for (const QString& text : identifiers) {
        QLabel* line = caption(text, this);
        line->setObjectName(QStringLiteral("aboutIdentifier"));
        makeSelectable(line);
        column->addWidget(line);
    }

    auto* close = new QPushButton(QStringLiteral("Close"), this);
    close->setDefault(true);
    connect(close, &QPushButton::clicked, this, [&model] { model.sheets().setShowAbout(false); });
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(close);
    column->addLayout(buttons);
}

} // namespace corvel
