#pragma once

#include <QStringList>

class QCoreApplication;

// The URLs given on the command line ("dartflux URL..."; after "--" every argument is one).
// --help and --version are answered on standard output and end the process, as command-line
// programs do; an unknown option ends it with a message on standard error. Needs the application
// object, not a display.
QStringList UrlsFromCommandLine(const QCoreApplication& application);

// How many of the arguments the GUI application object may see: those before "--". Qt takes
// options of its own (-platform, -platformpluginpath, -stylesheet, ...) wherever they stand, so
// text given after "--" could otherwise choose the plugins it loads.
int QtArgumentCount(int argc, const char* const* argv);
