// The settings store, in the temporary home the test main sets up.
#include "Settings.h"

#include <QFile>
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
    const std::string expected =
        QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation).toStdString() +
        "/DartfluxFull.ini";
    EXPECT_EQ(SettingsLocation(), expected);
    EXPECT_NE(SettingsLocation().find(qgetenv("HOME").toStdString()), std::string::npos);
}

TEST_F(SettingsTest, AWrittenValueReadsBackTheSame) {
    WriteSetting(0, "/home/u1");
    EXPECT_EQ(ReadSetting(0), "/home/u1");
    WriteSetting(1, "C:\\Users\\x y\\AppData\\Dartflux\\download.dat");
    EXPECT_EQ(ReadSetting(1), "C:\\Users\\x y\\AppData\\Dartflux\\download.dat");
    WriteSetting(0, "/other, with; odd=chars #and @at \xc3\xa9");
    EXPECT_EQ(ReadSetting(0), "/other, with; odd=chars #and @at \xc3\xa9");
    EXPECT_EQ(ReadSetting(1), "C:\\Users\\x y\\AppData\\Dartflux\\download.dat");
}

TEST_F(SettingsTest, AnEmptyValueIsKeptAsEmpty) {
    WriteSetting(0, "/somewhere");
    WriteSetting(0, "");
    EXPECT_EQ(ReadSetting(0), "");
    QSettings raw(QString::fromStdString(SettingsLocation()), QSettings::IniFormat);
    EXPECT_TRUE(raw.contains("s0")); // stored, not deleted
}

TEST_F(SettingsTest, MissingAndNonTextValuesReadAsEmpty) {
    EXPECT_EQ(ReadSetting(0), "");
    EXPECT_EQ(ReadSetting(7), "");
    {
        QSettings raw(QString::fromStdString(SettingsLocation()), QSettings::IniFormat);
        raw.setValue("s3", QByteArray("\x01\x02", 2));
        raw.setValue("s4", QStringList{"a", "b"});
    }
    EXPECT_EQ(ReadSetting(3), "");
    EXPECT_EQ(ReadSetting(4), "");
}

TEST_F(SettingsTest, TheValueNameIsTheIndexWithoutPadding) {
    WriteSetting(12, "twelve");
    EXPECT_EQ(ReadSetting(12), "twelve");
    EXPECT_TRUE(StoredText().contains("s12=twelve"));
    EXPECT_EQ(ReadSetting(1), "");
}

TEST_F(SettingsTest, AValueWrittenByHandIsRead) {
    std::filesystem::create_directories(std::filesystem::path(SettingsLocation()).parent_path());
    QFile file(QString::fromStdString(SettingsLocation()));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("[General]\ns1=/data/list.dat\n");
    file.close();
    EXPECT_EQ(ReadSetting(1), "/data/list.dat");
}

} // namespace
