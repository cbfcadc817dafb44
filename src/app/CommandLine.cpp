#include "CommandLine.h"

#include "ProgramVersion.h"

#include <QCommandLineParser>
#include <QCoreApplication>

QStringList UrlsFromCommandLine(int argc, char** argv) {
    const QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationVersion(
        QString::fromLatin1(ProgramVersion.data(), static_cast<qsizetype>(ProgramVersion.size())));
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "A download manager: fetches the URLs of its list one at a time into a folder.");
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument("URL", "Downloads to add to the list and start.", "[URL...]");
    parser.process(application);
    return parser.positionalArguments();
}
