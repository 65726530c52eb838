// corvel-encode: the command-line encoder.

#include "cli/CliRunner.h"

#include <QCoreApplication>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    return corvel::runCli(QCoreApplication::arguments());
}
