#include "CorvelEncoder/ui/HelpSheet.h"

#include "CorvelEncoder/model/AppModel.h"
#include "CorvelEncoderCore/CorvelIdentity.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace corvel {

const QString& jobFileHelpText()
{
    static const QString text = [] {
        QString t = QStringLiteral(R"(ADDING MOVIES
Drop movies or folders anywhere on the window, or use Add (Ctrl+O) and
File > Add Folder (Ctrl+Shift+O). Each movie becomes one row of the
queue; a file queued twice is, but a note says so. Start Queue (Ctrl+Return)
encodes the rows in order, as many at once as "Parallel" says.

PRESETS
Select rows and pick a preset in the panel on the right, or change any
setting there; the preset then reads "Edited", or "Custom". Save Preset
keeps the settings under a name of your own. New jobs take the preset
you chose last; with no row selected the panel edits those defaults.

WHERE OUTPUTS GO
Each job writes into its output folder (the panel's Output block), named
by its pattern. A name already taken gets a number (clip_H264-2.mp4);
the row shows the file actually written. A finished row's arrow shows it
in the file manager.

THE WATCH FOLDER
The eye button in the footer picks a folder to watch: movies copied into
it are queued with the watch preset and encoded as they arrive.

JOB FILES AND LINKS
Corvel Brisk, the suite's editor, and other tools send work as a job file
or a link.
Corvel Encoder reads a JSON job file (.corveljob) so Corvel Brisk
(BRISK-ID) or a browser editor can queue work.

{
  "version": 1,
  "sender": "BRISK-ID",
  "start": true,
  "preset": "ProRes 422 HQ",
  "output": "~/Videos/Corvel Encoder",
  "resolution": "source",
  "frameRate": "source",
  "audio": "pcm",
  "naming": "{name}_{codec}",
  "sources": ["/path/to/shot.mov"]
}

Presets: ProRes Proxy, ProRes LT, ProRes 422, ProRes 422 HQ,
ProRes 4444 (Alpha), H.264, HEVC, HEVC with Alpha.
Also the id: prores-422-hq, h264, hevc-alpha, or a saved name.

resolution: source, 4k, 1080p, 720p, or 1920x1080
frameRate: source or a number (24, 23.976, 29.97, …)
audio: aac or pcm
quality: low, medium, high, very high
bitrateMbps: sets an exact rate and ignores quality

Paths may be absolute, start with ~, or sit next to the job file.
Open a job with:
  corvel-encoder cut.corveljob
  xdg-open "SCHEME://enqueue?path=/absolute/cut.corveljob"

Or one clip, without a file:
  SCHEME://enqueue?source=/clip.mov&preset=H.264&output=/Renders&start=1&sender=BRISK-ID

Name tokens: {name} {preset} {codec} {resolution} {date})");
        t.replace(QStringLiteral("BRISK-ID"), CorvelIdentity::briskBundleID);
        t.replace(QStringLiteral("SCHEME"), CorvelIdentity::urlScheme);
        return t;
    }();
    return text;
}

HelpSheet::HelpSheet(AppModel& model, QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("helpSheet"));
    setWindowTitle(QStringLiteral("Corvel Encoder Help"));

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(20, 18, 20, 16);
    column->setSpacing(10);

    auto* title = new QLabel(QStringLiteral("Corvel Encoder Help"), this);
    QFont titleFont = title->font();
    titleFont.setPixelSize(15);
    titleFont.setWeight(QFont::DemiBold);
    title->setFont(titleFont);
    column->addWidget(title);

    auto* body = new QPlainTextEdit(this);
    body->setObjectName(QStringLiteral("helpText"));
    body->setReadOnly(true);
    // Long lines (a link) wrap rather than scroll sideways.
    body->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    body->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    body->setPlainText(jobFileHelpText());
    body->setMinimumSize(560, 520);
    column->addWidget(body, 1);

    auto* done = new QPushButton(QStringLiteral("Done"), this);
    done->setDefault(true);
    connect(done, &QPushButton::clicked, this, [&model] { model.sheets().setShowHelp(false); });
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(done);
    column->addLayout(buttons);
}

} // namespace corvel
