#include "DownloadFolder.h"

#include "Settings.h"

#include <QDir>
#include <QStandardPaths>
#include <QString>

#include <optional>

namespace {

std::string DefaultFolder() {
    QString base = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (base.isEmpty() || !QDir().mkpath(base)) {
        base = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
        QDir().mkpath(base);
    }
    return QDir::toNativeSeparators(base + QStringLiteral("/Download")).toLocal8Bit().toStdString();
}

} // namespace

DownloadFolder DownloadFolder::FromSettings() {
    const std::optional<std::string> stored = TryReadSetting(DownloadFolderSetting);
    DownloadFolder folder(stored && !stored->empty() ? *stored : DefaultFolder());
    folder.storable_ = stored.has_value();
    QDir().mkdir(QString::fromLocal8Bit(folder.path_.c_str()));
    return folder;
}

void DownloadFolder::Choose(const std::string& path) {
    path_ = path;
    storable_ = true;
    WriteSetting(DownloadFolderSetting, path_);
}

void DownloadFolder::Store() const {
    if (storable_) {
        WriteSetting(DownloadFolderSetting, path_);
    }
}
