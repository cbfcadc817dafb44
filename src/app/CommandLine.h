#pragma once

#include <QStringList>

// The URLs given on the command line ("dartflux URL..."). --help and --version are answered on
// standard output and end the process, as command-line programs do; an unknown option ends it
// with a message on standard error. Needs no display: call it before the application object.
QStringList UrlsFromCommandLine(int argc, char** argv);
