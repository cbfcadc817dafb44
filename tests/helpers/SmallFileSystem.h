#pragma once

#include <QString>
#include <QTemporaryDir>

// A tmpfs of its own, mounted on a temporary folder for the object's lifetime: a full disk or
// another file system on demand. Mounting needs root; Mounted() says whether it worked.
class SmallFileSystem {
public:
    explicit SmallFileSystem(const char* size = "1m");
    ~SmallFileSystem();
    SmallFileSystem(const SmallFileSystem&) = delete;
    SmallFileSystem& operator=(const SmallFileSystem&) = delete;

    bool Mounted() const { return mounted_; }
    // Why it is not mounted.
    const char* Error() const;
    QString Path() const { return folder_.path(); }

private:
    QTemporaryDir folder_;
    bool mounted_ = false;
    int error_ = 0;
};
