#include "Settings.h"

#include <QSettings>
#include <QStandardPaths>
#include <QString>
#include <QVariant>

#include <memory>

namespace {

// A fresh object each time: the store is read at most a few times a run, and every access then
// sees what other processes (or tests) wrote meanwhile.
std::unique_ptr<QSettings> OpenSettings() {
#ifdef Q_OS_WIN
    constexpr QSettings::Format format = QSettings::NativeFormat;
#else
    constexpr QSettings::Format format = QSettings::IniFormat;
#endif
    return std::make_unique<QSettings>(QString::fromStdString(SettingsLocation()), format);
}

QString ValueName(int index) {
    return QStringLiteral("s%1").arg(index);
}

} // namespace

std::string SettingsLocation() {
#ifdef Q_OS_WIN
    return "HKEY_CURRENT_USER\\SOFTWARE\\DartfluxFull";
#else
    return (QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
            QStringLiteral("/DartfluxFull.ini"))
        .toStdString();
#endif
}

std::string ReadSetting(int index) {
    const auto settings = OpenSettings();
    const QVariant value = settings->value(ValueName(index));
    if (settings->status() != QSettings::NoError || value.typeId() != QMetaType::QString) {
        return {};
    }
    return value.toString().toStdString();
}

void WriteSetting(int index, const std::string& text) {
    const auto settings = OpenSettings();
    settings->setValue(ValueName(index), QString::fromStdString(text));
    settings->sync();
}
