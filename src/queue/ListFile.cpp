#include "ListFile.h"

#include "Settings.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QStandardPaths>
#include <QString>

#include <cstdint>
#include <cstring>

namespace {

// The list is written in pieces of about this size, never held whole in memory.
constexpr qsizetype WriteChunk = 64 * 1024;

void AppendLittleEndian32(QByteArray& bytes, std::uint32_t value) {
    const char le[4] = {static_cast<char>(value & 0xff), static_cast<char>((value >> 8) & 0xff),
                        static_cast<char>((value >> 16) & 0xff),
                        static_cast<char>((value >> 24) & 0xff)};
    bytes.append(le, 4);
}

std::uint32_t ReadLittleEndian32(const char* at) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(at);
    return std::uint32_t{bytes[0]} | std::uint32_t{bytes[1]} << 8 | std::uint32_t{bytes[2]} << 16 |
           std::uint32_t{bytes[3]} << 24;
}

DownloadState StoredState(DownloadState state, QueueRun run) {
    if (state == DownloadState::Progress) {
        return DownloadState::Pause;
    }
    if (state == DownloadState::Waiting && run == QueueRun::Running) {
        return DownloadState::Ready;
    }
    return state;
}

// A list that loaded with damage is kept beside the new one before the next save replaces it:
// a copy of what could be read, or the file itself when it cannot be read at all.
void KeepDamagedList(QFile& file) {
    const QString kept = file.fileName() + QStringLiteral(".damaged");
    QFile::remove(kept);
    if (!file.isOpen() || !file.copy(kept)) {
        QFile::rename(file.fileName(), kept);
    }
    QFile::setPermissions(kept, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}

} // namespace

void WriteList(QIODevice& device, const DownloadItems& items, QueueRun run) {
    QByteArray bytes;
    AppendLittleEndian32(bytes, static_cast<std::uint32_t>(items.size()));
    std::string record;
    for (const auto& item : items) {
        const DownloadState stored = StoredState(item->state, run);
        if (stored != item->state) {
            DownloadItem copy = *item;
            copy.state = stored;
            record = copy.ToRecord();
        } else {
            record = item->ToRecord();
        }
        AppendLittleEndian32(bytes, static_cast<std::uint32_t>(record.size()));
        bytes.append(record.data(), static_cast<qsizetype>(record.size()));
        if (bytes.size() >= WriteChunk) {
            device.write(bytes);
            bytes.clear();
        }
    }
    device.write(bytes);
}

QByteArray EncodeList(const DownloadItems& items, QueueRun run) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    WriteList(buffer, items, run);
    return bytes;
}

DownloadItems DecodeList(const QByteArray& bytes, bool* damaged) {
    DownloadItems items;
    bool whole = true;
    const std::size_t size = static_cast<std::size_t>(bytes.size());
    if (size < 4) {
        if (damaged != nullptr) {
            *damaged = true;
        }
        return items;
    }
    const auto count = static_cast<std::int32_t>(ReadLittleEndian32(bytes.constData()));
    std::size_t at = 4;
    for (std::int32_t n = 0; n < count; ++n) {
        if (size - at < 4) {
            whole = false;
            break;
        }
        const std::uint32_t length = ReadLittleEndian32(bytes.constData() + at);
        at += 4;
        if (length > size - at) {
            whole = false;
            break;
        }
        const char* text = bytes.constData() + at;
        const void* zero = std::memchr(text, 0, length);
        const std::size_t textLength =
            zero != nullptr ? static_cast<std::size_t>(static_cast<const char*>(zero) - text)
                            : length;
        auto item = std::make_unique<DownloadItem>();
        whole = item->FromRecord(std::string(text, textLength)) && whole;
        items.push_back(std::move(item));
        at += length;
    }
    if (damaged != nullptr) {
        *damaged = !whole || at != size;
    }
    return items;
}

std::string DefaultListPath() {
    const QString dataFolder =
        QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (dataFolder.isEmpty()) {
        return {};
    }
    const QString folder = dataFolder + QStringLiteral("/Dartflux");
    QDir().mkpath(folder); // an existing folder is fine; a failure shows when the file is made
    return QDir::toNativeSeparators(folder + QStringLiteral("/download.dat")).toStdString();
}

std::string ListFilePath() {
    const std::string setting = ReadSetting(ListPathSetting);
    return setting.empty() ? DefaultListPath() : setting;
}

DownloadItems LoadListFile() {
    const std::string setting = ReadSetting(ListPathSetting);
    const std::string path = setting.empty() ? DefaultListPath() : setting;
    QFile file(QString::fromStdString(path));
    if (path.empty()) {
        return {};
    }
    if (!file.open(QIODevice::ReadOnly)) {
        if (file.exists()) {
            KeepDamagedList(file);
        }
        return {};
    }
    if (setting.empty()) {
        WriteSetting(ListPathSetting, path);
    }
    bool damaged = false;
    DownloadItems items = DecodeList(file.readAll(), &damaged);
    if (damaged) {
        KeepDamagedList(file);
    }
    return items;
}

bool SaveListFile(const DownloadItems& items, QueueRun run) {
    const std::string setting = ReadSetting(ListPathSetting);
    const std::string path = setting.empty() ? DefaultListPath() : setting;
    if (path.empty()) {
        return false;
    }
    QSaveFile file(QString::fromStdString(path));
    // URLs may hold passwords: the list is its owner's alone, also a list an older run made.
    if (!file.open(QIODevice::WriteOnly) ||
        !file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner)) {
        return false;
    }
    if (path != setting) {
        WriteSetting(ListPathSetting, path);
    }
    WriteList(file, items, run);
    // QSaveFile renames its file even when the buffered bytes could not be written (a full
    // disk): the old list would become an empty one.
    return file.flush() && file.commit();
}
