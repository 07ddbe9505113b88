#include "camera/autoshoot_dialog.h"
#include "camera/setup_camera_dialog.h"
#include "camera/setup_comm_dialog.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QFont>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QTest>
#include <QTextDocumentFragment>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "app/settings.h"
#include "app/tarvi_app.h"
#include "support/fake_clock.h"
#include "support/dialog_helpers.h"
#include "support/fake_ui.h"
#include "support/scripted_port.h"
#include "support/temp_dir.h"

QT_BEGIN_NAMESPACE
inline void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }
QT_END_NAMESPACE

namespace tarvi {
namespace {

namespace fs = std::filesystem;
using test::Bytes;
const std::string noSuchDevice = std::strerror(ENOENT);

using test::buttonNamed, test::child, test::whenModal;

class SetupDialogTest : public ::testing::Test {
protected:
    test::FakeUi ui;
    test::FakeClock clock;
    test::TempDir dir;
    test::ScriptedOpener opener;
    CTarviApp app{ui, clock, dir.path()};

    void SetUp() override
    {
        app.setPortOpener(&opener);
        app.log = [](const std::string&) {};
        for (int i = 0; i < PortMap::portCount; ++i)
            app.portMap.setDevice(i, "dev-com" + std::to_string(i + 1));
    }

    std::string savedValues() const
    {
        const std::string text = test::readFile(app.iniPath);
        const auto at = text.find("Values=");
        return at == std::string::npos ? std::string() : text.substr(at + 7, text.find('\n', at) - at - 7 + 1);
    }
};

// One pass through Setup Camera: body works the dialog, then the button is clicked.
void setupCameraWith(CTarviApp& app, const std::function<void(setupCamera&)>& body, const char* button = "OK")
{
    whenModal<setupCamera>([&](setupCamera& dialog) {
        body(dialog);
        QTest::mouseClick(buttonNamed(dialog, button), Qt::LeftButton);
    });
    OnSetupCamera(app, nullptr);
}

// Each field loads from and stores to its own setting; a refused value keeps
// the dialog open on the first refused field in exchange order, with its text
// selected, and Cancel then changes nothing, not even the good change made
// elsewhere; OK saves the values whether or not the camera is there to be told them.
TEST_F(SetupDialogTest, SetupCameraLoadsStoresRefusesAndSendsTheValues)
{
    enum Kind { check, edit, radio };
    using S = st4Settings;
    const struct {
        const char* control;  // the control of the first value
        Kind kind;
        int S::*field;
        int before, after;
    } cases[] = {
        {"check1013", check, &S::antiBloom, 0, 1},      {"check1014", check, &S::smoothImage, 1, 0},
        {"check1014", check, &S::smoothImage, 0, 1},    {"check1015", check, &S::subtractDarkFrame, 0, 1},
        {"check1017", check, &S::operationsInPC, 1, 0}, {"check1018", check, &S::useCompression, 1, 0},
        {"check1018", check, &S::useCompression, 0, 1}, {"radio1005", radio, &S::cameraGain, 0, 3},
        {"radio1005", radio, &S::cameraGain, 2, 1},     {"edit1010", edit, &S::exposureDelay, 7, 99},
        {"edit1010", edit, &S::exposureDelay, 5, 0},    {"edit1011", edit, &S::baselineLevel, 9, 255},
        {"edit1016", edit, &S::subtractionConstant, 12, 0}, {"edit1016", edit, &S::subtractionConstant, 0, 254},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.control << ' ' << c.before << " -> " << c.after);
        app.settings.*c.field = c.before;
        st4Settings expected = app.settings;
        expected.*c.field = c.after;
        setupCameraWith(app, [&](setupCamera& dialog) {
            if (c.kind == check) {
                EXPECT_EQ(child<QCheckBox>(dialog, c.control)->isChecked(), c.before != 0);
                child<QCheckBox>(dialog, c.control)->setChecked(c.after != 0);
            } else if (c.kind == edit) {
                EXPECT_EQ(child<QLineEdit>(dialog, c.control)->text(), QString::number(c.before));
                child<QLineEdit>(dialog, c.control)->setText(QString::number(c.after));
            } else {
                const int first = QString::fromLatin1(c.control).mid(5).toInt();
                for (int i = 0; i < 4; ++i)
                    EXPECT_EQ(child<QRadioButton>(dialog, QStringLiteral("radio%1").arg(first + i))->isChecked(), i == c.before);
                child<QRadioButton>(dialog, QStringLiteral("radio%1").arg(first + c.after))->click();
            }
        });
        EXPECT_EQ(formatSettingsLine(app.settings), formatSettingsLine(expected));
        EXPECT_EQ(savedValues(), formatSettingsLine(expected));
    }
    const std::pair<const char*, float> exposures[] = {{"0.01", 0.01f}, {"600", 600.0f}, {"600.00", 600.0f},
                                                       {" 0.5 ", 0.5f}, {"1e1", 10.0f}};
    app.settings.exposureTime = 2.5f;
    QString shown = "2.5";
    for (const auto& [text, seconds] : exposures) {
        setupCameraWith(app, [&, typed = text](setupCamera& dialog) {
            EXPECT_EQ(child<QLineEdit>(dialog, "edit1009")->text(), shown);
            child<QLineEdit>(dialog, "edit1009")->setText(QString::fromLatin1(typed));
        });
        EXPECT_EQ(app.settings.exposureTime, seconds) << text;
        shown = QString::number(double(seconds));
    }
    for (const auto& box : ui.boxes)
        EXPECT_EQ(box.text.find("Please enter"), std::string::npos) << box.text;

    const char* const exposureRange = "Please enter a number between 0.01 and 600.";
    const char* const byteRange = "Please enter an integer between 0 and 255.";
    const char* const delayRange = "Please enter an integer between 0 and 99.";
    const struct {
        std::vector<std::pair<const char*, const char*>> typed;
        const char* focus;
        const char* message;
    } refusals[] = {
        {{{"edit1009", "0.005"}}, "edit1009", exposureRange}, {{{"edit1009", "601"}}, "edit1009", exposureRange},
        {{{"edit1009", "abc"}}, "edit1009", "Please enter a number."},
        {{{"edit1010", "100"}}, "edit1010", delayRange},      {{{"edit1010", "-1"}}, "edit1010", delayRange},
        {{{"edit1011", "256"}}, "edit1011", byteRange},       {{{"edit1016", "-1"}}, "edit1016", byteRange},
        {{{"edit1016", "1000"}, {"edit1011", "1000"}, {"edit1010", "1000"}, {"edit1009", "1000"}}, "edit1009", exposureRange},
        {{{"edit1016", "1000"}, {"edit1011", "1000"}, {"edit1010", "1000"}}, "edit1010", delayRange},
        {{{"edit1016", "1000"}, {"edit1011", "1000"}}, "edit1011", byteRange},
    };
    app.settings.antiBloom = 0;
    const std::string before = formatSettingsLine(app.settings);
    fs::remove(app.iniPath);
    opener.opened.clear();
    for (const auto& c : refusals) {
        SCOPED_TRACE(c.typed.front().second);
        ui.boxes.clear();
        bool keptOpen = false;
        setupCameraWith(app, [&](setupCamera& dialog) {
            child<QCheckBox>(dialog, "check1013")->setChecked(true);
            for (const auto& [field, text] : c.typed)
                child<QLineEdit>(dialog, field)->setText(QString::fromLatin1(text));
            QTest::mouseClick(buttonNamed(dialog, "OK"), Qt::LeftButton);
            keptOpen = dialog.isVisible();
            QLineEdit* field = child<QLineEdit>(dialog, c.focus);
            EXPECT_EQ(dialog.focusWidget(), field);
            EXPECT_EQ(field->selectedText(), field->text());
        }, "Cancel");
        EXPECT_TRUE(keptOpen);
        EXPECT_EQ(ui.boxTexts(), std::vector<std::string>{c.message});
        EXPECT_EQ(formatSettingsLine(app.settings), before);
    }
    EXPECT_TRUE(opener.opened.empty());
    EXPECT_FALSE(fs::exists(app.iniPath));

    ui.boxes.clear();
    setupCameraWith(app, [](setupCamera& dialog) {
        child<QLineEdit>(dialog, "edit1009")->setText("12.5");
        EXPECT_FALSE(dialog.observationKeywordsBox()->isChecked());
        dialog.observationKeywordsBox()->setChecked(true);
    });
    EXPECT_EQ(opener.opened, std::vector<std::string>{"dev-com1"});
    EXPECT_EQ(ui.boxTexts(), std::vector<std::string>{"Cannot open/setup camera port com1\ndev-com1: " + noSuchDevice});
    EXPECT_EQ(app.settings.exposureTime, 12.5f);
    EXPECT_NE(savedValues().find(" 12.500000 "), std::string::npos) << savedValues();
    // The keywords' setting has a section of its own; the line keeps its seventeen numbers.
    EXPECT_TRUE(app.observationKeywords);
    EXPECT_TRUE(readObservationKeywords(IniFile(app.iniPath)));
    EXPECT_EQ(savedValues(), formatSettingsLine(app.settings));

    ui.boxes.clear();
    const auto camera = opener.add("dev-com1");
    test::PortScript* line = camera.get();
    camera->device = [line](const Bytes&) { line->arrive({0x06}); };
    app.settings.cameraHandle = app.ports.add(opener.open("dev-com1").port);
    setupCameraWith(app, [](setupCamera& dialog) { child<QLineEdit>(dialog, "edit1011")->setText("77"); });
    // The baseline level's RAM write carries the value just typed.
    EXPECT_EQ(camera->writes.size(), 5u);
    EXPECT_NE(std::find(camera->writes.begin(), camera->writes.end(), Bytes{0x01, 0x04, 0x01, 0x36, 0x00, 77, 0x89}),
              camera->writes.end());
    EXPECT_TRUE(ui.boxes.empty());
    EXPECT_EQ(savedValues(), formatSettingsLine(app.settings));
}

TEST_F(SetupDialogTest, SetupCommShowsTheDeviceOfEachPortInGrey)
{
    const std::string longName = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0";
    const std::string devices[] = {"/dev/ttyUSB0", "sim:camera", "tcp:<b>pi</b>:23", longName};
    for (int i = 0; i < PortMap::portCount; ++i)
        app.portMap.setDevice(i, devices[i]);
    setupComm dialog(ui, app.portMap);
    dialog.show();
    const QColor normalText = dialog.palette().color(QPalette::WindowText);
    for (const int first : {1000, 1008}) {
        const int ids[] = {first, first + 1, first + 2, first == 1000 ? 1003 : 1012};
        for (int i = 0; i < PortMap::portCount; ++i) {
            auto* label = child<QLabel>(dialog, QStringLiteral("device%1").arg(ids[i]));
            ASSERT_NE(label, nullptr);
            const QString device = QString::fromStdString(devices[i]);
            // Markup in a device name is shown as it stands; one too long for
            // its place is shortened in the middle, not cut off.
            EXPECT_EQ(label->textFormat(), Qt::PlainText);
            EXPECT_EQ(QTextDocumentFragment::fromHtml(label->toolTip()).toPlainText(), device);
            const QString shown = label->text();
            EXPECT_TRUE(devices[i] != longName ? shown == device
                                               : shown != device && shown.startsWith("/dev/") && shown.endsWith("port0"))
                << shown.toStdString();
            EXPECT_LE(label->sizeHint().width(), label->width()) << ids[i];
            EXPECT_NE(label->palette().color(label->foregroundRole()), normalText);
            EXPECT_LT(label->font().pointSizeF(), dialog.font().pointSizeF());
            // Beside the button of its own port.
            auto* radio = child<QRadioButton>(dialog, QStringLiteral("radio%1").arg(ids[i]));
            EXPECT_EQ(label->parentWidget(), radio->parentWidget());
            EXPECT_EQ(radio->geometry().center().y() / 4, label->geometry().center().y() / 4) << ids[i];
        }
    }
    dialog.hide();
}

TEST_F(SetupDialogTest, SetupCommConnectStoresThePortsAndOpensBothDevicesThere)
{
    const struct {
        int cameraPort, cameraSpeed, telescopePort;  // before
        int clickCamera, clickSpeed, clickTelescope;  // radio ids; 0 leaves the group alone
        int camera, speed, telescope;                 // after
    } cases[] = {
        {0, 0, 1, 1001, 0, 1009, 1, 0, 2},     // com2 for both moves the telescope to com3
        {0, 0, 1, 1003, 0, 1012, 3, 0, 0},     // com4 for both moves it to com1
        {2, 1, 3, 1000, 0, 1008, 0, 1, 1},     // com1 for both moves it to com2
        {0, 0, 1, 1002, 1006, 1008, 2, 2, 0},  // different ports and a new speed
        {1, 0, 3, 0, 1007, 0, 1, 3, 3},        // the slowest speed
        {3, 1, 2, 0, 0, 0, 3, 1, 2},           // nothing changed
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.camera << c.speed << c.telescope);
        app.settings.cameraPort = c.cameraPort;
        app.settings.cameraSpeed = c.cameraSpeed;
        app.settings.telescopePort = c.telescopePort;
        ui.boxes.clear();
        opener.opened.clear();
        fs::remove(app.iniPath);
        whenModal<setupComm>([&](setupComm& dialog) {
            for (const int id : {1000 + c.cameraPort, 1004 + c.cameraSpeed, c.telescopePort == 3 ? 1012 : 1008 + c.telescopePort})
                EXPECT_TRUE(child<QRadioButton>(dialog, QStringLiteral("radio%1").arg(id))->isChecked()) << id;
            for (const int id : {c.clickCamera, c.clickSpeed, c.clickTelescope}) {
                if (id != 0)
                    child<QRadioButton>(dialog, QStringLiteral("radio%1").arg(id))->click();
            }
            QTest::mouseClick(buttonNamed(dialog, "CONNECT"), Qt::LeftButton);
            EXPECT_FALSE(dialog.isVisible());
        });
        OnSetupComm(app, nullptr);
        EXPECT_EQ(app.settings.cameraPort, c.camera);
        EXPECT_EQ(app.settings.cameraSpeed, c.speed);
        EXPECT_EQ(app.settings.telescopePort, c.telescope);
        // No device answers here: each open fails and says which port it tried.
        const std::string camera = "com" + std::to_string(c.camera + 1), telescope = "com" + std::to_string(c.telescope + 1);
        EXPECT_EQ(opener.opened, (std::vector<std::string>{"dev-" + camera, "dev-" + telescope}));
        const auto reason = [](const std::string& name) { return "\ndev-" + name + ": " + noSuchDevice; };
        EXPECT_EQ(ui.boxTexts(), (std::vector<std::string>{"Cannot open/setup camera port " + camera + reason(camera),
                                                        "Cannot open telescope port " + telescope + reason(telescope)}));
        EXPECT_EQ(savedValues(), formatSettingsLine(app.settings));
    }
}

TEST_F(SetupDialogTest, SetupCommKeepsTheTelescopeSharingInItsOwnSection)
{
    const struct {
        const char* name;
        bool check;
        const char* port;
        bool others;
        std::vector<std::string> boxes;
        TelescopeSharing expected;
    } cases[] = {
        {"on", true, "10001", true, {}, {true, 10001, true}},
        {"port refused", true, "70000", false, {"Please enter an integer between 1 and 65535."}, {}},
        {"off, port not asked", false, "x", false, {}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        app.sharing = {};
        ui.boxes.clear();
        fs::remove(app.iniPath);
        whenModal<setupComm>([&](setupComm& dialog) {
            EXPECT_FALSE(dialog.sharePortEdit()->isEnabled());
            EXPECT_FALSE(dialog.allowOthersBox()->isEnabled());
            EXPECT_EQ(dialog.sharePortEdit()->text(), "4030");
            if (c.check)
                dialog.shareBox()->click();
            dialog.sharePortEdit()->setText(c.port);
            dialog.allowOthersBox()->setChecked(c.others);
            QTest::mouseClick(buttonNamed(dialog, "CONNECT"), Qt::LeftButton);
            if (dialog.isVisible())
                dialog.reject();
        });
        const bool connected = OnSetupComm(app, nullptr);
        EXPECT_EQ(connected, c.boxes.empty());
        EXPECT_EQ(app.sharing, c.expected);
        std::vector<std::string> said = ui.boxTexts();
        said.resize(std::min(said.size(), c.boxes.size()));
        EXPECT_EQ(said, c.boxes);
        EXPECT_EQ(readTelescopeSharing(IniFile(app.iniPath)), c.expected);
    }
}

// Cancel touches no port; CONNECT with nothing changed closes both and opens them afresh.
TEST_F(SetupDialogTest, SetupCommCancelTouchesNothingAndConnectWithoutChangesReconnectsBothDevices)
{
    const auto camera = opener.add("dev-com1");
    const auto telescope = opener.add("dev-com2");
    app.settings.cameraHandle = app.ports.add(opener.open("dev-com1").port);
    app.settings.telescopeHandle = app.ports.add(opener.open("dev-com2").port);
    opener.opened.clear();
    const std::string before = formatSettingsLine(app.settings);
    fs::remove(app.iniPath);
    whenModal<setupComm>([](setupComm& dialog) {
        for (const char* radio : {"radio1002", "radio1007", "radio1010"})
            child<QRadioButton>(dialog, radio)->click();
        QTest::keyClick(&dialog, Qt::Key_Escape);
        EXPECT_FALSE(dialog.isVisible());
    });
    OnSetupComm(app, nullptr);
    EXPECT_EQ(formatSettingsLine(app.settings), before);
    EXPECT_FALSE(camera->closed);
    EXPECT_TRUE(opener.opened.empty() && ui.boxes.empty());
    EXPECT_FALSE(fs::exists(app.iniPath));

    const int oldCamera = app.settings.cameraHandle, oldTelescope = app.settings.telescopeHandle;
    test::PortScript* line = telescope.get();
    telescope->device = [line](const Bytes&) { line->arrive({'1', '#'}); };
    whenModal<setupComm>([](setupComm& dialog) { QTest::mouseClick(buttonNamed(dialog, "CONNECT"), Qt::LeftButton); });
    OnSetupComm(app, nullptr);
    // The camera did not answer; it says so, and its port stays closed.
    EXPECT_TRUE(camera->closed);
    EXPECT_EQ(app.settings.cameraHandle, -1);
    EXPECT_EQ(ui.boxTexts(), std::vector<std::string>{"Cannot open camera port com1\ndev-com1: no answer at any speed"});
    EXPECT_EQ(app.ports.find(oldCamera), nullptr);
    EXPECT_EQ(app.ports.find(oldTelescope), nullptr);
    EXPECT_NE(app.settings.telescopeHandle, -1);
    EXPECT_EQ(opener.opened.front(), "dev-com1");
    EXPECT_EQ(std::count(opener.opened.begin(), opener.opened.end(), "dev-com2"), 1);
    // The speed search ran again on the camera, the probe on the telescope.
    EXPECT_FALSE(camera->lineSettingsSet.empty() || camera->writes.empty());
    EXPECT_NE(std::find(telescope->writes.begin(), telescope->writes.end(), Bytes{':', 'G', 'S', '#'}), telescope->writes.end());
}

TEST_F(SetupDialogTest, AutoshootSetupKeepsItsValuesOnlyOnOk)
{
    app.autosaveFits = 0;
    app.fitsDirectory = "/night/fits";
    app.autosaveBmp = 1;
    app.bmpDirectory = "/night/bmp";
    app.autoCenter = 0;
    app.newWindowPerImage = 1;
    for (const bool ok : {false, true}) {
        whenModal<autoshootsetup>([ok](autoshootsetup& dialog) {
            auto* fits = child<QCheckBox>(dialog, "check1019");
            ASSERT_NE(fits, nullptr);
            EXPECT_FALSE(fits->isChecked());
            EXPECT_EQ(child<QLineEdit>(dialog, "edit1022")->text(), "/night/fits");
            EXPECT_EQ(child<QLineEdit>(dialog, "edit1023")->text(), "/night/bmp");
            EXPECT_TRUE(child<QCheckBox>(dialog, "check1021")->isChecked());
            fits->setChecked(true);
            child<QLineEdit>(dialog, "edit1022")->setText("/tmp/deep sky");
            child<QCheckBox>(dialog, "check1026")->setChecked(true);
            child<QCheckBox>(dialog, "check1042")->setChecked(false);
            QTest::mouseClick(buttonNamed(dialog, ok ? "OK" : "Cancel"), Qt::LeftButton);
        });
        OnAutoshootSetup(app, nullptr);
        EXPECT_EQ(app.autosaveFits, ok ? 1 : 0);
        EXPECT_EQ(app.fitsDirectory, ok ? "/tmp/deep sky" : "/night/fits");
        EXPECT_EQ(app.autoCenter, ok ? 1 : 0);
        EXPECT_EQ(app.newWindowPerImage, ok ? 0 : 1);
        EXPECT_EQ(app.bmpDirectory, "/night/bmp");
    }
}

// Every text of a dialog is shown whole, in whatever font the desktop gives:
// the rectangles were measured in another one.
void expectNoTextCutOff(QWidget& dialog)
{
    for (QWidget* widget : dialog.findChildren<QWidget*>()) {
        const auto* label = qobject_cast<QLabel*>(widget);
        if (!(widget->inherits("QCheckBox") || widget->inherits("QRadioButton") || (label != nullptr && !label->wordWrap())))
            continue;
        const QString text = label != nullptr ? label->text() : static_cast<QAbstractButton*>(widget)->text();
        EXPECT_LE(widget->sizeHint().width(), widget->width()) << text.toStdString();
        const QRect inDialog(widget->mapTo(&dialog, QPoint(0, 0)), widget->size());
        EXPECT_LE(inDialog.right(), dialog.width()) << text.toStdString() << " runs past the dialog";
    }
}

TEST_F(SetupDialogTest, NoTextIsCutOffInAnyFont)
{
    const QFont original = QApplication::font();
    for (const int points : {9, 12, 16}) {
        QFont font = original;
        font.setPointSize(points);
        QApplication::setFont(font);
        setupCamera camera(ui);
        setupComm comm(ui, app.portMap);
        autoshootsetup autoshoot(ui);
        for (QWidget* dialog : std::initializer_list<QWidget*>{&camera, &comm, &autoshoot})
            expectNoTextCutOff(*dialog);
    }
    QApplication::setFont(original);
}

}  // namespace
}  // namespace tarvi
