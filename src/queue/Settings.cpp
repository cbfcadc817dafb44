#include "Settings.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSettings>
#include <QStandardPaths>
#include <QString>
#include <QVariant>

#include <algorithm>
#include <charconv>
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

const QString SettingsInUse[] = {ValueName(DownloadFolderSetting), ValueName(ListPathSetting),
                                 SpeedLimitSetting};

// The value's own line, for a file the INI reader stumbles over: a stray line can make it drop
// what follows (an unclosed section header, a trailing backslash).
std::optional<QString> ScanValue(const QString& name) {
#ifdef Q_OS_WIN
    Q_UNUSED(name);
    return std::nullopt;
#else
    QFile file(QString::fromStdString(SettingsLocation()));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        return std::nullopt;
    }
    const QRegularExpression line(QStringLiteral("^\\s*%1\\s*=(.*)$").arg(name));
    while (!file.atEnd()) {
        const QRegularExpressionMatch match =
            line.match(QString::fromUtf8(file.readLine()).chopped(1));
        if (match.hasMatch()) {
            QString value = match.captured(1).trimmed();
            if (value.startsWith('@')) {
                return std::nullopt; // the INI reader's mark of a value that is not text
            }
            if (value.size() >= 2 && value.startsWith('"') && value.endsWith('"')) {
                value = value.mid(1, value.size() - 2);
            }
            return value;
        }
    }
    return std::nullopt;
#endif
}

std::optional<QString> ReadValue(QSettings& settings, const QString& name) {
    if (!settings.contains(name)) {
        return ScanValue(name);
    }
    const QVariant value = settings.value(name);
    if (value.typeId() != QMetaType::QString) {
        return std::nullopt;
    }
    return value.toString();
}

bool StoreReadable() {
#ifdef Q_OS_WIN
    return true;
#else
    QFile file(QString::fromStdString(SettingsLocation()));
    return !file.exists() || file.open(QIODevice::ReadOnly);
#endif
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

std::optional<std::string> TryReadSetting(int index) {
    if (!StoreReadable()) {
        return std::nullopt;
    }
    const auto settings = OpenSettings();
    return ReadValue(*settings, ValueName(index)).value_or(QString()).toStdString();
}

std::string ReadSetting(int index) {
    return TryReadSetting(index).value_or(std::string());
}

std::string ReadSetting(const std::string& name) {
    const auto settings = OpenSettings();
    return ReadValue(*settings, QString::fromStdString(name)).value_or(QString()).toStdString();
}

void WriteSetting(int index, const std::string& text) {
    WriteSetting(ValueName(index).toStdString(), text);
}

void WriteSetting(const std::string& name, const std::string& text) {
    const QString written = QString::fromStdString(name);
    const auto settings = OpenSettings();
    // Writing rewrites the whole file from what the reader understood: keep every value in use,
    // also one that only the line scan finds.
    for (const QString& other : SettingsInUse) {
        if (other != written && !settings->contains(other)) {
            if (const std::optional<QString> kept = ReadValue(*settings, other)) {
                settings->setValue(other, *kept);
            }
        }
    }
    settings->setValue(written, QString::fromStdString(text));
#ifndef Q_OS_WIN
    // The list's path and folder are the owner's business; a new file is never readable by
    // others, and the rewrite keeps the permissions it finds.
    const QString location = QString::fromStdString(SettingsLocation());
    if (QFile created(location); !created.exists()) {
        created.open(QIODevice::WriteOnly, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    }
#endif
    settings->sync();
#ifndef Q_OS_WIN
    QFile::setPermissions(location, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
#endif
}

std::int64_t ReadCountSetting(const std::string& name) {
    const std::string stored = ReadSetting(name);
    std::int64_t count = 0;
    const auto [end, error] = std::from_chars(stored.data(), stored.data() + stored.size(), count);
    return error == std::errc() && end == stored.data() + stored.size()
               ? std::max<std::int64_t>(count, 0)
               : 0;
}
