#pragma once

#include <string>

// The folder new downloads go to ("Save to:"), and its setting "s0". The user's choice is stored
// at once, so that a crash never sends later downloads to an older folder; a value that could not
// be read is never replaced by the default.
class DownloadFolder {
public:
    explicit DownloadFolder(std::string path = {}) : path_(std::move(path)) {}

    // The folder setting 0 names or, when it is empty, the documents folder (else the desktop) +
    // "Download". Its last level is created when missing.
    static DownloadFolder FromSettings();

    const std::string& Path() const { return path_; }

    // The user's choice: kept and stored at once.
    void Choose(const std::string& path);

    // Stores the folder, as every exit does, unless the stored value could not be read and the
    // user chose no other.
    void Store() const;

private:
    std::string path_;
    bool storable_ = true;
};
