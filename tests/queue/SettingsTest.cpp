// The settings store, in the temporary home the test main sets up.
#include "Settings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

#include <gtest/gtest.h>

#include <filesystem>

namespace {

class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override { std::filesystem::remove(SettingsLocation()); }

    static QByteArray StoredText() {
        QFile file(QString::fromStdString(SettingsLocation()));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
};

TEST_F(SettingsTest, LivesInTheUsersConfigFolderUnderTheTemporaryHome) {
    EXPECT_EQ(
        SettingsLocation(),
        QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation).toStdString() +
            "/DartfluxFull.ini");
    EXPECT_NE(SettingsLocation().find(qgetenv("HOME").toStdString()), std::string::npos);
}

TEST_F(SettingsTest, WrittenValuesReadBackUnderTheirOwnNames) {
    const std::string odd = "/other, with; odd=chars #and @at \xc3\xa9";
    const std::string windows = "C:\\Users\\x y\\AppData\\Dartflux\\download.dat";
    WriteSetting(0, "/home/u1");
    WriteSetting(1, windows);
    WriteSetting(0, odd);
    WriteSetting(12, "twelve");
    EXPECT_EQ(ReadSetting(0), odd);
    EXPECT_EQ(ReadSetting(1), windows);
    EXPECT_EQ(ReadSetting(12), "twelve");
    EXPECT_TRUE(StoredText().contains("s12=twelve")); // the index without padding

    WriteSetting(0, "");
    EXPECT_EQ(ReadSetting(0), "");
    EXPECT_TRUE(QSettings(QString::fromStdString(SettingsLocation()), QSettings::IniFormat)
                    .contains("s0")); // stored as empty, not deleted
}

TEST_F(SettingsTest, MissingAndNonTextValuesReadAsEmptyAndHandWrittenOnesAreRead) {
    EXPECT_EQ(ReadSetting(0), "");
    {
        QSettings raw(QString::fromStdString(SettingsLocation()), QSettings::IniFormat);
        raw.setValue("s3", QByteArray("\x01\x02", 2));
        raw.setValue("s4", QStringList{"a", "b"});
    }
    EXPECT_EQ(ReadSetting(3), "");
    EXPECT_EQ(ReadSetting(4), "");
    EXPECT_EQ(ReadSetting(7), "");
}

TEST_F(SettingsTest, AStrayLineNeverHidesOrLosesAValue) {
    for (const char* stray : {"", "# a comment", "// another", "[broken", "garbage", "\\"}) {
        SCOPED_TRACE(stray);
        {
            QFile file(QString::fromStdString(SettingsLocation()));
            QDir().mkpath(QFileInfo(file).path());
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            file.write(QByteArray("[General]\ns0=/home/me/dl\n") + stray + "\ns1=/data/list.dat\n");
        }
        EXPECT_EQ(ReadSetting(0), "/home/me/dl");
        EXPECT_EQ(ReadSetting(1), "/data/list.dat");
        WriteSetting(0, "/home/me/other");
        EXPECT_EQ(ReadSetting(0), "/home/me/other");
        EXPECT_EQ(ReadSetting(1), "/data/list.dat");
    }
}

} // namespace
