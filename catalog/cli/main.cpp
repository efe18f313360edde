// main.cpp - tslcat-cli entry point.

#include <QCoreApplication>

#include "cli.h"

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("tslcat-cli");
    return tslcat::cli::Run(QCoreApplication::arguments());
}
