#include "ResourceImages.h"

#include <QFile>
#include <QString>

QImage LoadBitmapResource(int id) {
    if (id == 0) {
        return {};
    }
    return QImage(QString(":/res/bitmap%1.png").arg(id));
}

QIcon LoadIconResource(int id) {
    QIcon icon;
    const QString base = QString(":/res/icon%1").arg(id);
    for (const QString& suffix : {QString(), QString("-16"), QString("-48"), QString("-256")}) {
        const QString path = base + suffix + ".png";
        if (QFile::exists(path)) {
            icon.addFile(path);
        }
    }
    return icon;
}
