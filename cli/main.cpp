// corvel-encode: the command-line encoder.

#include "cli/CliRunner.h"

#include <QCoreApplication>

extern "C" {
#include <libavutil/log.h>
}

int main(int argc, char* argv[])
{
    // The engine reports what matters through its own messages; the libraries' chatter (x264
    // statistics, probes for absent hardware encoders) would bury them on a terminal.
    av_log_set_level(AV_LOG_FATAL);
    QCoreApplication app(argc, argv);
    return corvel::runCli(QCoreApplication::arguments());
}
