#include "TemporaryHome.h"

#include <QByteArray>

#include <cstdlib>

TemporaryHome::TemporaryHome() {
    if (!folder_.isValid()) {
        return;
    }
    const QByteArray root = folder_.path().toLocal8Bit();
    setenv("HOME", root.constData(), 1);
    setenv("XDG_CONFIG_HOME", (root + "/.config").constData(), 1);
    setenv("XDG_DATA_HOME", (root + "/.local/share").constData(), 1);
    setenv("XDG_CACHE_HOME", (root + "/.cache").constData(), 1);
    // Private to the user (0700), as the runtime folder must be.
    setenv("XDG_RUNTIME_DIR", root.constData(), 1);
}
