#include "ResourceImages.h"

#include <QFile>
#include <QGuiApplication>
#include <QString>

QImage LoadBitmapResource(int id) {
    if (id == 0) {
        return {};
    }
    if (qGuiApp != nullptr && qGuiApp->devicePixelRatio() > 1) {
        QImage doubled(QString(":/res/bitmap%1@2x.png").arg(id));
        if (!doubled.isNull()) {
            doubled.setDevicePixelRatio(2);
            return doubled;
        }
    }
    return QImage(QString(":/res/bitmap%1.png").arg(id));
}

QIcon LoadIconResource(int id) {
    QIcon icon;
    const QString base = QString(":/res/icon%1").arg(id);
    for (const QString& suffix :
         {QString(), QString("-16"), QString("-48"), QString("-64"), QString("-256")}) {
        const QString path = base + suffix + ".png";
        if (QFile::exists(path)) {
            icon.addFile(path);
        }
    }
    return icon;
}
