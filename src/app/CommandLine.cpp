#include "CommandLine.h"

#include "ProgramVersion.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstring>

QStringList UrlsFromCommandLine(const QCoreApplication& application) {
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

int QtArgumentCount(int argc, const char* const* argv) {
    int count = 0;
    while (count < argc && std::strcmp(argv[count], "--") != 0) {
        ++count;
    }
    return count;
}
