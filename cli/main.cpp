// corvel-encode: the command-line encoder.

#include "CorvelEncoder/engine/FFmpegSetup.h"
#include "cli/CliRunner.h"

#include <QCoreApplication>

#include <csignal>

int main(int argc, char* argv[])
{
    // Past a file-size limit write() must fail with EFBIG, so the encode reports it and removes
    // its partial file; the signal's default action would kill the process mid-file.
    std::signal(SIGXFSZ, SIG_IGN);
    // A closed reader of our output must not kill the encodes mid-file.
    std::signal(SIGPIPE, SIG_IGN);
    // The engine reports what matters through its own messages; the libraries' chatter (x264
    // statistics, probes for absent hardware encoders) is shown only with --verbose.
    corvel::setUpFFmpeg();
    QCoreApplication app(argc, argv);
    return corvel::runCli(QCoreApplication::arguments());
}
