// The panel's file actions: loading and saving the configuration file, "Apply to module" and
// the debug log, against the fake line, the scripted file dialog and the fixed clock.
#include <QCheckBox>
#include <QDialog>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "control_panel.h"
#include "fake_serial_port.h"
#include "test_panel_fakes.h"

namespace {

QByteArray ReadAllOf(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

void WriteFile(const QString& path, const QByteArray& content) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(content);
}

class FileActions : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        panel = new CControlPanelDlg(&host, fakes.Make(line.Factory()));
        panel->Create();
    }
    void TearDown() override { delete panel; }

    std::vector<QString> Boxes() const {
        std::vector<QString> texts;
        for (const auto& shown : fakes.messageBox->shown) {
            texts.push_back(shown.text);
        }
        return texts;
    }

    QTemporaryDir dir;
    PauseRecorder pauses;
    FakeLine line;
    FakePlatform fakes;
    QDialog host;
    CControlPanelDlg* panel = nullptr;
};

TEST_F(FileActions, LoadAppliesKnownLinesAndReportsTheOthers) {
    const QString path = dir.filePath(QStringLiteral("rig.ini"));
    WriteFile(path, "# comment\nID 5\nuse_pwm 1\ndac_bandwidth 3 0.5 1.5\ndac_bandwidth 16 9 9\n");
    fakes.fileDialog->answers = {path};
    panel->LoadConfigFile();

    ASSERT_EQ(fakes.fileDialog->requests.size(), 1u);
    const OpenFileRequest& r = fakes.fileDialog->requests[0];
    EXPECT_EQ(r.filter, QStringLiteral("INI file (*.ini);;All files (*.*)"));
    EXPECT_EQ(r.defaultSuffix, QStringLiteral("ini"));
    EXPECT_EQ(r.initialName, QStringLiteral("INI File Load"));
    EXPECT_EQ(Boxes(), std::vector<QString>{QStringLiteral("Unknown string(0):# comment\n")});
    EXPECT_EQ(panel->m_editConfigId->text(), QStringLiteral("5"));
    EXPECT_TRUE(panel->m_checkUsePwm->isChecked());
    EXPECT_EQ(panel->m_editBandwidthLow[3]->text(), QStringLiteral("0.5"));
    EXPECT_EQ(panel->m_editBandwidthHigh[3]->text(), QStringLiteral("1.5"));
    EXPECT_EQ(panel->m_editConfigChannels->text(), QStringLiteral("8"));   // untouched
    EXPECT_EQ(panel->m_editConfigModel->text(), QStringLiteral("Model Name"));
    EXPECT_EQ(panel->m_editConfigPath->text(), path);

    // Cancel changes nothing; a file that is not there says so and keeps the path.
    fakes.messageBox->shown.clear();
    panel->LoadConfigFile();
    EXPECT_TRUE(Boxes().empty());
    const QString missing = dir.filePath(QStringLiteral("missing.ini"));
    fakes.fileDialog->answers = {missing};
    panel->LoadConfigFile();
    EXPECT_EQ(Boxes(), std::vector<QString>{QStringLiteral("File Open Error")});
    EXPECT_EQ(panel->m_strConfigPath, missing);
}

TEST_F(FileActions, SaveWritesTheTwentyFourLinesIntoAnExistingFileOnly) {
    panel->SaveConfigFile();  // no file chosen yet
    EXPECT_EQ(Boxes(), std::vector<QString>{QStringLiteral("File Open Error")});

    const QString path = dir.filePath(QStringLiteral("rig.ini"));
    WriteFile(path, QByteArray(4000, 'x'));  // longer than what is saved over it
    panel->m_strConfigPath = path;
    panel->m_editConfigId->setText(QStringLiteral("42"));
    panel->SaveConfigFile();
    const QByteArray saved = ReadAllOf(path);
    EXPECT_TRUE(saved.startsWith("model Model Name\nS/N \nID 42\nchannel 8\npwm_offset 17\n")) << saved.left(80).toStdString();
    EXPECT_EQ(saved.count('\n'), 24);
    EXPECT_FALSE(saved.contains('x'));
    EXPECT_EQ(panel->MessageText(0), QStringLiteral("Save file"));

    // Loading it back: the model name keeps one word, the rest is as it was.
    fakes.fileDialog->answers = {path};
    panel->m_editConfigId->setText(QStringLiteral("0"));
    panel->UpdateData(true);
    panel->LoadConfigFile();
    EXPECT_EQ(panel->m_strConfigModel, QStringLiteral("Model"));
    EXPECT_EQ(panel->m_nConfigId, 42);
    EXPECT_EQ(panel->m_fBandwidthHigh[15], 1.2f);

    const QString absent = dir.filePath(QStringLiteral("absent.ini"));
    panel->m_strConfigPath = absent;
    panel->SaveConfigFile();
    EXPECT_FALSE(QFile::exists(absent));
}

TEST_F(FileActions, ApplyToModuleSendsTheSignedIdAndStopsAtABadDacRow) {
    ASSERT_NE(panel->m_pLink->OpenPort(1), 0);
    panel->m_editConfigId->setText(QStringLiteral("200"));
    panel->ApplyConfigToModule();
    const auto has = [this](const std::string& command) {
        return std::find(line.writes.begin(), line.writes.end(), command) != line.writes.end();
    };
    EXPECT_TRUE(has("setmoduleid -56\r"));
    EXPECT_TRUE(has("setbandwidthex 15 0.000000 1.200000\r"));
    EXPECT_EQ(line.writes.back(), "setmodelsave\r");
    EXPECT_TRUE(Boxes().empty());

    line.writes.clear();
    panel->m_editBandwidthLow[15]->setText(QStringLiteral("1.2"));
    panel->ApplyConfigToModule();
    EXPECT_EQ(Boxes(), std::vector<QString>{QStringLiteral("Invalid parameter,Check please!!")});
    EXPECT_EQ(line.writes.back(), "saveid\r");
    EXPECT_FALSE(has("setbandwidth 0.000000 1.200000\r"));
}

TEST_F(FileActions, DebugLogWritesTheListOldestFirstWithItsOwnBytes) {
    const QString previous = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(dir.path()));
    fakes.clock->now = {2013, 3, 5, 7, 8, 9};
    panel->AddMessage(QStringLiteral("first"));
    panel->AddMessage(QStringLiteral("-> getsn\r"));
    line.pending.clear();
    ASSERT_NE(panel->m_pLink->OpenPort(1), 0);
    line.Deliver("S/N: \xb8\xf0\xff\r\n");  // Korean, then a byte that is no character at all
    panel->OnStatusRefresh();
    panel->SaveDebugLog();
    EXPECT_EQ(ReadAllOf(dir.filePath(QStringLiteral("2013-3-5-07-08-09.txt"))),
              QByteArray("first\n-> getsn\r\nS/N: \xb8\xf0\xff\n"));
    EXPECT_EQ(panel->MessageText(0), QStringLiteral("logfile create"));

    // A name that cannot be created: a folder stands in its place.
    fakes.clock->now = {2013, 3, 5, 7, 8, 10};
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("2013-3-5-07-08-10.txt")));
    const int lines = panel->MessageCount();
    panel->SaveDebugLog();
    EXPECT_EQ(Boxes(), std::vector<QString>{QStringLiteral("File Create Error")});
    EXPECT_EQ(panel->MessageCount(), lines);

    panel->ClearMessages();
    fakes.clock->now = {2013, 12, 31, 23, 59, 58};
    panel->SaveDebugLog();
    EXPECT_EQ(ReadAllOf(dir.filePath(QStringLiteral("2013-12-31-23-59-58.txt"))), QByteArray());
    QDir::setCurrent(previous);
}

}  // namespace

namespace {

// Each unknown line's box comes as the reader meets it: the lines before it are applied (the
// check boxes show them), the lines after it not yet.
TEST_F(FileActions, UnknownLinesShowTheirBoxesDuringTheReadInFileOrder) {
    const QString path = dir.filePath(QStringLiteral("rig.ini"));
    WriteFile(path, "use_pwm 1\nbogus 1\nuse_packet 1\nmore\nuse_debug 1\n");
    fakes.fileDialog->answers = {path};
    QStringList checksAtBox;
    fakes.messageBox->onShow = [&] {
        checksAtBox << QStringLiteral("%1%2%3").arg(panel->m_checkUsePwm->isChecked()).arg(panel->m_checkUsePacket->isChecked())
                           .arg(panel->m_checkUseDebug->isChecked());
    };
    panel->LoadConfigFile();
    EXPECT_EQ(Boxes(), (std::vector<QString>{QStringLiteral("Unknown string(1):bogus 1\n"), QStringLiteral("Unknown string(3):more\n")}));
    EXPECT_EQ(checksAtBox, (QStringList{QStringLiteral("100"), QStringLiteral("110")}));
    EXPECT_TRUE(panel->m_checkUseDebug->isChecked());
}

// The system's open-file dialog returns a typed name that does not exist (a dialog that
// refused it would be rejected a moment later).
TEST(OpenFileDialog, ReturnsATypedNameThatDoesNotExist) {
    QTemporaryDir dir;
    QTimer driver;
    QObject::connect(&driver, &QTimer::timeout, [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        auto* name = dialog != nullptr ? dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")) : nullptr;
        if (name != nullptr) {
            driver.stop();
            dialog->setDirectory(dir.path());
            name->setText(QStringLiteral("typed.ini"));  // as typed into the name field
            QMetaObject::invokeMethod(dialog, "accept");
            QTimer::singleShot(100, dialog, &QDialog::reject);
        }
    });
    driver.start(20);
    const QString path = PanelPlatform::Real().fileDialog->GetOpenFileName(nullptr, {QStringLiteral("INI file (*.ini)"), QStringLiteral("ini"), QStringLiteral("INI File Load")});
    EXPECT_EQ(QFileInfo(path).absoluteFilePath(), QDir(dir.path()).absoluteFilePath(QStringLiteral("typed.ini"))) << path.toStdString();
}

}  // namespace
