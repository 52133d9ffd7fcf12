// Renders the main window offscreen to PNG files in the build folder (screenshots/), with window
// mode off and on and with a port open on lumitrax-sim, plus the splash and the help picture, for
// a person to look at; and checks what a picture can tell: in window mode every group box is
// inside the window and drawn.
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QComboBox>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QRawFont>
#include <QPushButton>
#include <QStyle>
#include <QTranslator>
#include <QSlider>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>

#include "about_dialog.h"
#include "artwork.h"
#include "fake_serial_port.h"
#include "help_dialog.h"
#include "main_dialog.h"
#include "panel_app.h"
#include "port_list.h"
#include "sim_process.h"
#include "test_panel_fakes.h"

namespace {

QString ShotPath(const QString& name) {
    QDir dir(QStringLiteral(LUMITRAX_SCREENSHOT_DIR));
    dir.mkpath(QStringLiteral("."));
    return dir.filePath(name);
}

// Share of pixels that differ from the most common colour of the image.
double InkShare(const QImage& image) {
    QHash<QRgb, int> counts;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            ++counts[image.pixel(x, y)];
        }
    }
    int most = 0;
    for (int c : counts) {
        most = std::max(most, c);
    }
    const int total = image.width() * image.height();
    return total == 0 ? 0.0 : 1.0 - static_cast<double>(most) / total;
}

class ScreenshotTest : public ::testing::Test {
protected:
    void SetUp() override {
        ClearAddedPortPaths();
        AddPortPath(QStringLiteral("/dev/pts/7"));
    }
    void TearDown() override { ClearAddedPortPaths(); }
    PauseRecorder pauses;
    FakeLine line;
    FakePlatform fakes;
};

TEST_F(ScreenshotTest, MainWindowInBothModes) {
    CMainDlg dlg(nullptr, fakes.Make(line.Factory()));
    dlg.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
    ASSERT_TRUE(QTest::qWaitFor([&] { return dlg.Panel()->IsCreated() && dlg.Splash() != nullptr; }, 2000));
    CControlPanelDlg* panel = dlg.Panel();
    panel->AddMessage(QStringLiteral("Open complete"));
    panel->AddMessage(QStringLiteral("-> getmoduleinfo"));

    const QImage splash = dlg.Splash()->grab().toImage();
    ASSERT_TRUE(splash.save(ShotPath(QStringLiteral("splash.png"))));
    EXPECT_GT(InkShare(splash), 0.05);

    const QImage normal = dlg.grab().toImage();
    ASSERT_TRUE(normal.save(ShotPath(QStringLiteral("main_window.png"))));
    EXPECT_EQ(normal.size(), dlg.size() * dlg.devicePixelRatio());

    panel->OnSetWindowMode();
    QTest::qWait(50);
    const QImage large = dlg.grab().toImage();
    ASSERT_TRUE(large.save(ShotPath(QStringLiteral("main_window_mode.png"))));

    for (QGroupBox* group : {panel->m_groupPortInfo, panel->m_groupModuleInfo, panel->m_groupBrightMemory,
                             panel->m_groupTest, panel->m_groupTrigger, panel->m_groupConfig}) {
        SCOPED_TRACE(group->title().toStdString());
        const QRect inWindow(group->mapTo(&dlg, QPoint(0, 0)), group->size());
        EXPECT_TRUE(dlg.rect().contains(inWindow));
        EXPECT_TRUE(group->isVisible());
        const QImage part = large.copy(inWindow);
        EXPECT_GT(InkShare(part), 0.02);  // the frame, its title and its controls are drawn
    }
    // The channel rows as an open port with eight channels shows them.
    for (int i = 0; i < 8; ++i) {
        panel->m_sliderBright[i]->show();
        panel->m_sliderBright[i]->setValue(128 * i);
        panel->m_staticChannel[i]->show();
        panel->m_checkMatrix[4 * i + kOnColumn]->show();
        panel->m_checkMatrix[4 * i + kOnColumn]->setChecked(i % 3 == 0);
    }
    panel->m_checkAll[kOnColumn]->show();
    panel->m_checkGrab->show();
    QTest::qWait(20);
    ASSERT_TRUE(dlg.grab().save(ShotPath(QStringLiteral("main_window_rows.png"))));
    const QImage row = panel->grab(panel->m_sliderBright[7]->geometry().united(panel->m_staticChannel[7]->geometry())).toImage();
    EXPECT_GT(InkShare(row), 0.05);

    // The Korean caption is drawn with glyphs, not left blank.
    QLabel* korean = nullptr;
    for (QLabel* label : panel->findChildren<QLabel*>()) {
        if (label->text() == QStringLiteral("채널수")) {
            korean = label;
        }
    }
    ASSERT_NE(korean, nullptr);
    EXPECT_GT(InkShare(korean->grab().toImage()), 0.03);
}

// --language en: no Korean text is left (captions, names, menu, the search notice) and no
// English caption is cut (its text fits beside a box's indicator or within a button's margins).
TEST_F(ScreenshotTest, EnglishCaptionsAreWholeAndNoKoreanIsLeft) {
    QTranslator translator;
    ASSERT_TRUE(InstallEnglishCaptions(*QCoreApplication::instance(), translator));
    CMainDlg dlg(nullptr, fakes.Make(line.Factory()));
    CAboutDlg about(nullptr);
    dlg.show();
    about.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
    ASSERT_TRUE(QTest::qWaitFor([&] { return dlg.Panel()->IsCreated() && dlg.Splash() != nullptr; }, 2000));
    dlg.Panel()->OnSetWindowMode();
    QTest::qWait(50);
    ASSERT_TRUE(dlg.grab().save(ShotPath(QStringLiteral("main_window_mode_en.png"))));
    ASSERT_TRUE(about.grab().save(ShotPath(QStringLiteral("about_en.png"))));
    QMenu menu;
    dlg.FillSystemMenu(&menu);
    dlg.Panel()->OnSearchPorts();
    ASSERT_EQ(menu.actions().size(), 2);
    ASSERT_EQ(fakes.messageBox->shown.size(), 1u);
    QStringList texts = {dlg.windowTitle(), about.windowTitle(), menu.actions().value(1)->text(),
                         fakes.messageBox->shown[0].text};
    for (QWidget* w : dlg.findChildren<QWidget*>() + about.findChildren<QWidget*>()) {
        const QStyle* style = w->style();
        QString text;
        int room = w->contentsRect().width();
        if (auto* label = qobject_cast<QLabel*>(w)) {
            text = label->text();
        } else if (auto* box = qobject_cast<QCheckBox*>(w)) {
            text = box->text();
            room = w->width() - style->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, w) -
                   style->pixelMetric(QStyle::PM_CheckBoxLabelSpacing, nullptr, w);
        } else if (auto* button = qobject_cast<QPushButton*>(w)) {
            text = button->text().remove(QLatin1Char('&'));
            room = w->width() - 2 * style->pixelMetric(QStyle::PM_ButtonMargin, nullptr, w);
        } else if (auto* combo = qobject_cast<QComboBox*>(w)) {
            for (int i = 0; i < combo->count(); ++i) {
                texts << combo->itemText(i);
            }
        }
        texts << text << w->accessibleName();
        if (!text.isEmpty() && !text.contains(QLatin1Char('\n')) && !w->isHidden()) {
            EXPECT_LE(w->fontMetrics().horizontalAdvance(text), room) << text.toStdString();
        }
    }
    for (const QString& text : texts) {
        EXPECT_FALSE(std::any_of(text.begin(), text.end(), [](QChar c) { return c >= QChar(0xAC00) && c <= QChar(0xD7A3); }))
            << text.toStdString();
    }
    QCoreApplication::removeTranslator(&translator);
}

// The captions' own font (cut out of Noto Sans CJK KR at build time; scripts/setup installs what
// that needs) draws them to the same pixels, and text it lacks falls back to the full font.
TEST(CaptionFont, DrawsAsTheSystemFontAndLeavesOtherTextToIt) {
    ASSERT_TRUE(InstallCaptionFont());
    QFile file(QStringLiteral(":/lumitrax/captions.otf"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QRawFont captions(file.readAll(), 12);
    EXPECT_TRUE(captions.supportsCharacter(QChar(u'모')));
    EXPECT_FALSE(captions.supportsCharacter(QChar(u'똠')));

    const auto draw = [](const QStringList& families, const QString& text) {
        QFont font;
        font.setFamilies(families);
        font.setPointSize(9);
        QImage image(420, 24, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::white);
        QPainter painter(&image);
        painter.setFont(font);
        painter.drawText(image.rect(), Qt::AlignLeft | Qt::AlignVCenter, text);
        return image;
    };
    const QStringList system = {QStringLiteral("DejaVu Sans"), QStringLiteral("Noto Sans CJK KR")};
    const QStringList withCaptions = {QStringLiteral("DejaVu Sans"), QString::fromLatin1(kCaptionFontFamily),
                                      QStringLiteral("Noto Sans CJK KR")};
    for (const QString& text : {QStringLiteral("모델명 채널수 Trig채널수 부저 에러무시"),
                                QStringLiteral("양산테스트 보드 테스트 Lumitrax 정보 확인"),
                                QStringLiteral("똠방각하 갂 (not in the captions)")}) {
        const QImage drawn = draw(withCaptions, text);
        EXPECT_EQ(drawn, draw(system, text)) << text.toStdString();
        EXPECT_GT(InkShare(drawn), 0.02) << text.toStdString();
    }
}

TEST(EmbeddedPictures, BytesNotOfTheirFormAreRefused) {
    const QByteArray good = PicturePixels(PaintIcon(16));
    QByteArray otherSize = good;
    otherSize[8] = '\x88';  // a height that the pixels do not fill
    for (const QByteArray& bytes : {QByteArray(), good.chopped(1), good + 'x', QByteArray(good).replace(0, 4, "LXPY"), otherSize}) {
        EXPECT_TRUE(PictureFromPixels(bytes).isNull()) << bytes.size();
    }
    EXPECT_EQ(PictureFromPixels(good), PaintIcon(16));
}

TEST_F(ScreenshotTest, PicturesAtTheirSizes) {
    EXPECT_EQ(LoadBitmapResource(IDB_ABOUT).size(), QSize(kAboutBitmapWidth, kAboutBitmapHeight));
    EXPECT_EQ(LoadBitmapResource(IDB_TRIGGER_HELP).size(), QSize(kHelpBitmapWidth, kHelpBitmapHeight));
    EXPECT_TRUE(LoadBitmapResource(999).isNull());
    EXPECT_FALSE(LoadIconResource(IDI_MAINFRAME).isNull());
    EXPECT_TRUE(LoadIconResource(IDB_ABOUT).isNull());
    // The window programs carry the About picture rendered at build time: the same pixels.
    const QImage built = BuiltAboutPicture();
    ASSERT_FALSE(built.isNull());
    EXPECT_EQ(built.convertToFormat(QImage::Format_ARGB32_Premultiplied), PaintAboutPicture());
    for (int side : {16, 32, 48}) {
        ASSERT_FALSE(BuiltIcon(side).isNull()) << side;
        EXPECT_EQ(LoadIconResource(IDI_MAINFRAME).pixmap(side, side).toImage(), PaintIcon(side)) << side;
    }
    EXPECT_TRUE(BuiltIcon(24).isNull());

    const QImage help = PaintTriggerHelpPicture();
    ASSERT_TRUE(help.save(ShotPath(QStringLiteral("help_picture.png"))));
    EXPECT_GT(InkShare(help), 0.02);
    ASSERT_TRUE(PaintIcon(64).save(ShotPath(QStringLiteral("icon.png"))));

    CHelpDlg dialog(nullptr);
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    ASSERT_TRUE(dialog.grab().save(ShotPath(QStringLiteral("help_window.png"))));
}

// The window as an operator sees it on a controller: lumitrax-sim's port open with 16 channels.
// main_window_open.png is the picture the README shows. Real pauses (no PauseRecorder): the
// read-all at "Open" waits for the simulator's answers as on a real line.
TEST(Screenshot, MainWindowWithAPortOpen) {
    SimProcess sim({"--model", "LX-1608", "--serial", "LX24A00017", "--firmware", "2.5.0", "--fpga", "1.3", "--build",
                    "20130225", "--channels", "16", "--switches", "1,0,1,0"});
    ASSERT_FALSE(sim.devicePath().empty()) << sim.ErrorOutput();
    const QString path = QString::fromStdString(sim.devicePath());
    ClearAddedPortPaths();
    AddPortPath(path);
    FakePlatform fakes;
    PanelPlatform platform = fakes.Make();
    platform.listPorts = [path] {
        const int n = PortNumberForPath(path);
        return std::vector<PortEntry>{{n, path, QString(), QStringLiteral("COM%1 %2").arg(n).arg(path)}};
    };
    CMainDlg dlg(nullptr, platform);
    dlg.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
    ASSERT_TRUE(QTest::qWaitFor([&] { return dlg.Panel()->IsCreated() && dlg.Splash() != nullptr; }, 2000));
    CControlPanelDlg* panel = dlg.Panel();
    panel->OnSetWindowMode();
    panel->m_editChannelInput->setText(QStringLiteral("16"));
    panel->m_comboPort->setCurrentIndex(0);
    panel->OnOpenPort();
    ASSERT_EQ(panel->m_bPortOpen, 1);
    for (int i = 0; i < 16; ++i) {
        panel->m_sliderBright[i]->setValue(64 * i);
    }
    panel->OnStatusRefresh();
    QTest::qWait(50);
    const QImage shot = dlg.grab().toImage();
    ASSERT_TRUE(shot.save(ShotPath(QStringLiteral("main_window_open.png"))));
    EXPECT_EQ(panel->m_editModel->text(), QStringLiteral("LX-1608"));
    // The sixteenth row is drawn inside the window.
    const QRect row16(panel->m_sliderBright[15]->mapTo(&dlg, QPoint(0, 0)), panel->m_sliderBright[15]->size());
    EXPECT_TRUE(dlg.rect().contains(row16));
    EXPECT_GT(InkShare(shot.copy(row16)), 0.02);
    panel->OnClosePort();
    ClearAddedPortPaths();
}

}  // namespace
