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
#include <QTimer>

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
inline void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}
QT_END_NAMESPACE

namespace tarvi {
namespace {

namespace fs = std::filesystem;
using test::Bytes;
const std::string noSuchDevice = std::strerror(ENOENT);

using test::buttonNamed;
using test::child;
using test::whenModal;

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

    std::vector<std::string> boxTexts() const
    {
        std::vector<std::string> texts;
        for (const auto& box : ui.boxes)
            texts.push_back(box.text);
        return texts;
    }

    std::string savedValues() const
    {
        const std::string text = test::readFile(app.iniPath);
        const auto at = text.find("Values=");
        return at == std::string::npos ? std::string() : text.substr(at + 7, text.find('\n', at) - at - 7 + 1);
    }
};

enum class Control { check, edit, radio };

struct FieldCase {
    const char* control;  // the object name of the control of the first value
    Control kind;
    int st4Settings::*field;
    int before;
    int after;
};

void PrintTo(const FieldCase& c, std::ostream* out)
{
    *out << c.control << ' ' << c.before << " -> " << c.after;
}

class SetupCameraFields : public SetupDialogTest, public ::testing::WithParamInterface<FieldCase> {};

TEST_P(SetupCameraFields, LoadFromAndStoreToTheirOwnSetting)
{
    const FieldCase& c = GetParam();
    app.settings.*c.field = c.before;
    st4Settings expected = app.settings;
    expected.*c.field = c.after;
    whenModal<setupCamera>([&](setupCamera& dialog) {
        switch (c.kind) {
        case Control::check: {
            QCheckBox* box = child<QCheckBox>(dialog, c.control);
            ASSERT_NE(box, nullptr);
            EXPECT_EQ(box->isChecked(), c.before != 0);
            box->setChecked(c.after != 0);
            break;
        }
        case Control::edit: {
            QLineEdit* edit = child<QLineEdit>(dialog, c.control);
            ASSERT_NE(edit, nullptr);
            EXPECT_EQ(edit->text(), QString::number(c.before));
            edit->setText(QString::number(c.after));
            break;
        }
        case Control::radio: {
            const int first = QString::fromLatin1(c.control).mid(5).toInt();
            for (int i = 0; i < 4; ++i) {
                auto* radio = child<QRadioButton>(dialog, QStringLiteral("radio%1").arg(first + i));
                ASSERT_NE(radio, nullptr);
                EXPECT_EQ(radio->isChecked(), i == c.before) << i;
            }
            child<QRadioButton>(dialog, QStringLiteral("radio%1").arg(first + c.after))->click();
            break;
        }
        }
        QTest::mouseClick(buttonNamed(dialog, "OK"), Qt::LeftButton);
        EXPECT_FALSE(dialog.isVisible());
    });
    OnSetupCamera(app, nullptr);
    EXPECT_EQ(formatSettingsLine(app.settings), formatSettingsLine(expected));
    EXPECT_EQ(savedValues(), formatSettingsLine(expected));
}

INSTANTIATE_TEST_SUITE_P(
    SetupTable, SetupCameraFields,
    ::testing::Values(FieldCase{"check1013", Control::check, &st4Settings::antiBloom, 0, 1},
                      FieldCase{"check1014", Control::check, &st4Settings::smoothImage, 1, 0},
                      FieldCase{"check1014", Control::check, &st4Settings::smoothImage, 0, 1},
                      FieldCase{"check1015", Control::check, &st4Settings::subtractDarkFrame, 0, 1},
                      FieldCase{"check1017", Control::check, &st4Settings::operationsInPC, 1, 0},
                      FieldCase{"check1018", Control::check, &st4Settings::useCompression, 1, 0},
                      FieldCase{"check1018", Control::check, &st4Settings::useCompression, 0, 1},
                      FieldCase{"radio1005", Control::radio, &st4Settings::cameraGain, 0, 3},
                      FieldCase{"radio1005", Control::radio, &st4Settings::cameraGain, 2, 1},
                      FieldCase{"edit1010", Control::edit, &st4Settings::exposureDelay, 7, 99},
                      FieldCase{"edit1010", Control::edit, &st4Settings::exposureDelay, 5, 0},
                      FieldCase{"edit1011", Control::edit, &st4Settings::baselineLevel, 9, 255},
                      FieldCase{"edit1016", Control::edit, &st4Settings::subtractionConstant, 12, 0},
                      FieldCase{"edit1016", Control::edit, &st4Settings::subtractionConstant, 0, 254}));

struct ExposureCase {
    const char* text;
    float expected;
};

void PrintTo(const ExposureCase& c, std::ostream* out)
{
    *out << '"' << c.text << '"';
}

class SetupCameraExposureAccepted : public SetupDialogTest, public ::testing::WithParamInterface<ExposureCase> {};

TEST_P(SetupCameraExposureAccepted, OkStoresTheExposureTime)
{
    const ExposureCase& c = GetParam();
    app.settings.exposureTime = 2.5f;
    whenModal<setupCamera>([&](setupCamera& dialog) {
        EXPECT_EQ(child<QLineEdit>(dialog, "edit1009")->text(), "2.5");
        child<QLineEdit>(dialog, "edit1009")->setText(QString::fromLatin1(c.text));
        QTest::mouseClick(buttonNamed(dialog, "OK"), Qt::LeftButton);
        EXPECT_FALSE(dialog.isVisible());
    });
    OnSetupCamera(app, nullptr);
    EXPECT_EQ(app.settings.exposureTime, c.expected);
    for (const std::string& text : boxTexts())
        EXPECT_EQ(text.find("Please enter"), std::string::npos) << text;
}

INSTANTIATE_TEST_SUITE_P(SetupTable, SetupCameraExposureAccepted,
                         ::testing::Values(ExposureCase{"0.01", 0.01f}, ExposureCase{"600", 600.0f},
                                           ExposureCase{"600.00", 600.0f}, ExposureCase{" 0.5 ", 0.5f},
                                           ExposureCase{"1e1", 10.0f}));

using Refusal = test::FieldRefusal;

class SetupCameraRefused : public SetupDialogTest, public ::testing::WithParamInterface<Refusal> {};

TEST_P(SetupCameraRefused, ShowTheMessageAndKeepTheDialogOpenOnTheField)
{
    const Refusal& c = GetParam();
    app.settings.antiBloom = 0;
    const std::string before = formatSettingsLine(app.settings);
    fs::remove(app.iniPath);
    bool keptOpen = false;
    whenModal<setupCamera>([&](setupCamera& dialog) {
        // A good change elsewhere must not get through either.
        child<QCheckBox>(dialog, "check1013")->setChecked(true);
        QLineEdit* field = child<QLineEdit>(dialog, c.field);
        ASSERT_NE(field, nullptr);
        field->setText(QString::fromLatin1(c.text));
        QTest::mouseClick(buttonNamed(dialog, "OK"), Qt::LeftButton);
        keptOpen = dialog.isVisible();
        EXPECT_EQ(dialog.focusWidget(), field);
        EXPECT_EQ(field->selectedText(), field->text());
        QTest::mouseClick(buttonNamed(dialog, "Cancel"), Qt::LeftButton);
    });
    OnSetupCamera(app, nullptr);
    EXPECT_TRUE(keptOpen);
    EXPECT_EQ(boxTexts(), std::vector<std::string>{c.message});
    EXPECT_EQ(formatSettingsLine(app.settings), before);
    EXPECT_TRUE(opener.opened.empty());
    EXPECT_FALSE(fs::exists(app.iniPath));
}

INSTANTIATE_TEST_SUITE_P(
    SetupTable, SetupCameraRefused,
    ::testing::Values(Refusal{"edit1009", "0.005", "Please enter a number between 0.01 and 600."},
                      Refusal{"edit1009", "601", "Please enter a number between 0.01 and 600."},
                      Refusal{"edit1009", "abc", "Please enter a number."},
                      Refusal{"edit1010", "100", "Please enter an integer between 0 and 99."},
                      Refusal{"edit1010", "-1", "Please enter an integer between 0 and 99."},
                      Refusal{"edit1011", "256", "Please enter an integer between 0 and 255."},
                      Refusal{"edit1016", "-1", "Please enter an integer between 0 and 255."}));

struct OrderCase {
    std::vector<const char*> refused;  // fields given a value out of range
    const char* first;                 // the one the user is sent back to
};

void PrintTo(const OrderCase& c, std::ostream* out)
{
    for (const char* field : c.refused)
        *out << field << ' ';
}

class SetupCameraOrder : public SetupDialogTest, public ::testing::WithParamInterface<OrderCase> {};

TEST_P(SetupCameraOrder, TheFirstRefusedFieldInExchangeOrderIsTheOneReported)
{
    const OrderCase& c = GetParam();
    const QWidget* focused = nullptr;
    whenModal<setupCamera>([&](setupCamera& dialog) {
        for (const char* field : c.refused)
            child<QLineEdit>(dialog, field)->setText("1000");
        QTest::mouseClick(buttonNamed(dialog, "OK"), Qt::LeftButton);
        focused = dialog.focusWidget();
        EXPECT_EQ(focused, child<QLineEdit>(dialog, c.first));
    });
    OnSetupCamera(app, nullptr);
    ASSERT_EQ(ui.boxes.size(), 1u);
    const std::string expected = std::string(c.first) == "edit1009"   ? "Please enter a number between 0.01 and 600."
                                 : std::string(c.first) == "edit1010" ? "Please enter an integer between 0 and 99."
                                                                      : "Please enter an integer between 0 and 255.";
    EXPECT_EQ(ui.boxes[0].text, expected);
}

INSTANTIATE_TEST_SUITE_P(SetupTable, SetupCameraOrder,
                         ::testing::Values(OrderCase{{"edit1016", "edit1011", "edit1010", "edit1009"}, "edit1009"},
                                           OrderCase{{"edit1016", "edit1011", "edit1010"}, "edit1010"},
                                           OrderCase{{"edit1016", "edit1011"}, "edit1011"},
                                           OrderCase{{"edit1016"}, "edit1016"}));

TEST_F(SetupDialogTest, SetupCameraOkSendsTheNewValuesToAConnectedCameraAndSaves)
{
    const auto camera = opener.add("dev-com1");
    test::PortScript* line = camera.get();
    camera->device = [line](const Bytes&) { line->arrive({0x06}); };
    app.settings.cameraHandle = app.ports.add(opener.open("dev-com1").port);
    whenModal<setupCamera>([](setupCamera& dialog) {
        child<QLineEdit>(dialog, "edit1011")->setText("77");
        QTest::mouseClick(buttonNamed(dialog, "OK"), Qt::LeftButton);
    });
    OnSetupCamera(app, nullptr);
    // The baseline level's RAM write carries the value just typed.
    const auto baseline = std::find_if(camera->writes.begin(), camera->writes.end(),
                                       [](const Bytes& w) { return w.size() == 7 && w[3] == 0x36; });
    ASSERT_NE(baseline, camera->writes.end());
    EXPECT_EQ((*baseline)[5], 77);
    EXPECT_EQ(camera->writes.size(), 5u);
    EXPECT_TRUE(ui.boxes.empty());
    EXPECT_EQ(app.settings.baselineLevel, 77);
    EXPECT_EQ(savedValues(), formatSettingsLine(app.settings));
}

TEST_F(SetupDialogTest, SetupCameraWithTheCameraOffReportsItAndSavesTheValuesAllTheSame)
{
    fs::remove(app.iniPath);
    whenModal<setupCamera>([](setupCamera& dialog) {
        child<QLineEdit>(dialog, "edit1009")->setText("12.5");
        EXPECT_FALSE(dialog.observationKeywordsBox()->isChecked());
        dialog.observationKeywordsBox()->setChecked(true);
        QTest::mouseClick(buttonNamed(dialog, "OK"), Qt::LeftButton);
    });
    OnSetupCamera(app, nullptr);
    EXPECT_EQ(opener.opened, std::vector<std::string>{"dev-com1"});
    EXPECT_EQ(boxTexts(), std::vector<std::string>{"Cannot open/setup camera port com1\ndev-com1: " + noSuchDevice});
    EXPECT_EQ(app.settings.exposureTime, 12.5f);
    EXPECT_NE(savedValues().find(" 12.500000 "), std::string::npos) << savedValues();
    // The keywords' setting has a section of its own; the line keeps its seventeen numbers.
    EXPECT_TRUE(app.observationKeywords);
    EXPECT_TRUE(readObservationKeywords(IniFile(app.iniPath)));
    EXPECT_EQ(savedValues(), formatSettingsLine(app.settings));
}

TEST_F(SetupDialogTest, SetupCameraCancelChangesNothingAndSendsNothing)
{
    const std::string before = formatSettingsLine(app.settings);
    fs::remove(app.iniPath);
    whenModal<setupCamera>([](setupCamera& dialog) {
        child<QCheckBox>(dialog, "check1013")->click();
        child<QCheckBox>(dialog, "check1017")->click();
        child<QRadioButton>(dialog, "radio1008")->click();
        child<QLineEdit>(dialog, "edit1009")->setText("30");
        child<QLineEdit>(dialog, "edit1010")->setText("3");
        QTest::mouseClick(buttonNamed(dialog, "Cancel"), Qt::LeftButton);
        EXPECT_FALSE(dialog.isVisible());
    });
    OnSetupCamera(app, nullptr);
    EXPECT_EQ(formatSettingsLine(app.settings), before);
    EXPECT_TRUE(opener.opened.empty());
    EXPECT_TRUE(ui.boxes.empty());
    EXPECT_FALSE(fs::exists(app.iniPath));
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
            // Markup in a device name is shown as it stands.
            EXPECT_EQ(label->textFormat(), Qt::PlainText);
            EXPECT_EQ(QTextDocumentFragment::fromHtml(label->toolTip()).toPlainText(), device);
            if (devices[i] != longName) {
                EXPECT_EQ(label->text(), device);
            } else {
                // Too long for its place: shortened in the middle, not cut off.
                EXPECT_NE(label->text(), device);
                EXPECT_TRUE(label->text().startsWith("/dev/")) << label->text().toStdString();
                EXPECT_TRUE(label->text().endsWith("port0")) << label->text().toStdString();
            }
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

struct ConnectCase {
    const char* name;
    int cameraPort, cameraSpeed, telescopePort;  // before
    int clickCamera, clickSpeed, clickTelescope;  // radio ids; 0 leaves the group alone
    int expectedCamera, expectedSpeed, expectedTelescope;
};

void PrintTo(const ConnectCase& c, std::ostream* out)
{
    *out << c.name;
}

class SetupCommConnect : public SetupDialogTest, public ::testing::WithParamInterface<ConnectCase> {};

TEST_P(SetupCommConnect, ConnectStoresThePortsAndOpensBothDevicesThere)
{
    const ConnectCase& c = GetParam();
    app.settings.cameraPort = c.cameraPort;
    app.settings.cameraSpeed = c.cameraSpeed;
    app.settings.telescopePort = c.telescopePort;
    fs::remove(app.iniPath);
    whenModal<setupComm>([&](setupComm& dialog) {
        const int shown[] = {1000 + c.cameraPort, 1004 + c.cameraSpeed,
                             c.telescopePort == 3 ? 1012 : 1008 + c.telescopePort};
        for (const int id : shown)
            EXPECT_TRUE(child<QRadioButton>(dialog, QStringLiteral("radio%1").arg(id))->isChecked()) << id;
        for (const int id : {c.clickCamera, c.clickSpeed, c.clickTelescope}) {
            if (id != 0)
                child<QRadioButton>(dialog, QStringLiteral("radio%1").arg(id))->click();
        }
        QTest::mouseClick(buttonNamed(dialog, "CONNECT"), Qt::LeftButton);
        EXPECT_FALSE(dialog.isVisible());
    });
    OnSetupComm(app, nullptr);
    EXPECT_EQ(app.settings.cameraPort, c.expectedCamera);
    EXPECT_EQ(app.settings.cameraSpeed, c.expectedSpeed);
    EXPECT_EQ(app.settings.telescopePort, c.expectedTelescope);
    // No device answers here: each open fails and says which port it tried.
    const std::string cameraName = "com" + std::to_string(c.expectedCamera + 1);
    const std::string telescopeName = "com" + std::to_string(c.expectedTelescope + 1);
    EXPECT_EQ(opener.opened, (std::vector<std::string>{"dev-" + cameraName, "dev-" + telescopeName}));
    const auto reason = [](const std::string& name) { return "\ndev-" + name + ": " + noSuchDevice; };
    EXPECT_EQ(boxTexts(),
              (std::vector<std::string>{"Cannot open/setup camera port " + cameraName + reason(cameraName),
                                        "Cannot open telescope port " + telescopeName + reason(telescopeName)}));
    EXPECT_EQ(savedValues(), formatSettingsLine(app.settings));
}

INSTANTIATE_TEST_SUITE_P(
    SetupTable, SetupCommConnect,
    ::testing::Values(ConnectCase{"Com2ForBothMovesTheTelescopeToCom3", 0, 0, 1, 1001, 0, 1009, 1, 0, 2},
                      ConnectCase{"Com4ForBothMovesTheTelescopeToCom1", 0, 0, 1, 1003, 0, 1012, 3, 0, 0},
                      ConnectCase{"Com1ForBothMovesTheTelescopeToCom2", 2, 1, 3, 1000, 0, 1008, 0, 1, 1},
                      ConnectCase{"DifferentPortsAndANewSpeed", 0, 0, 1, 1002, 1006, 1008, 2, 2, 0},
                      ConnectCase{"SlowestSpeed", 1, 0, 3, 0, 1007, 0, 1, 3, 3},
                      ConnectCase{"NothingChanged", 3, 1, 2, 0, 0, 0, 3, 1, 2}));

TEST_F(SetupDialogTest, SetupCommConnectWithoutChangesReconnectsBothDevices)
{
    const auto camera = opener.add("dev-com1");
    const auto telescope = opener.add("dev-com2");
    app.settings.cameraHandle = app.ports.add(opener.open("dev-com1").port);
    app.settings.telescopeHandle = app.ports.add(opener.open("dev-com2").port);
    opener.opened.clear();
    whenModal<setupComm>([](setupComm& dialog) {
        QTest::mouseClick(buttonNamed(dialog, "CONNECT"), Qt::LeftButton);
    });
    OnSetupComm(app, nullptr);
    EXPECT_EQ(opener.opened.front(), "dev-com1");
    EXPECT_EQ(std::count(opener.opened.begin(), opener.opened.end(), "dev-com2"), 1);
    // The speed search ran again on the camera, the probe on the telescope.
    EXPECT_FALSE(camera->lineSettingsSet.empty());
    EXPECT_FALSE(camera->writes.empty());
    EXPECT_NE(std::find(telescope->writes.begin(), telescope->writes.end(), Bytes{':', 'G', 'S', '#'}),
              telescope->writes.end());
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
        std::vector<std::string> said = boxTexts();
        said.resize(std::min(said.size(), c.boxes.size()));
        EXPECT_EQ(said, c.boxes);
        EXPECT_EQ(readTelescopeSharing(IniFile(app.iniPath)), c.expected);
    }
}

TEST_F(SetupDialogTest, SetupCommCancelChangesNothingAndTouchesNoPort)
{
    const auto camera = opener.add("dev-com1");
    app.settings.cameraHandle = app.ports.add(opener.open("dev-com1").port);
    opener.opened.clear();
    const std::string before = formatSettingsLine(app.settings);
    fs::remove(app.iniPath);
    whenModal<setupComm>([](setupComm& dialog) {
        child<QRadioButton>(dialog, "radio1002")->click();
        child<QRadioButton>(dialog, "radio1007")->click();
        child<QRadioButton>(dialog, "radio1010")->click();
        QTest::keyClick(&dialog, Qt::Key_Escape);
        EXPECT_FALSE(dialog.isVisible());
    });
    OnSetupComm(app, nullptr);
    EXPECT_EQ(formatSettingsLine(app.settings), before);
    EXPECT_FALSE(camera->closed);
    EXPECT_TRUE(opener.opened.empty());
    EXPECT_TRUE(ui.boxes.empty());
    EXPECT_FALSE(fs::exists(app.iniPath));
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
        QString text;
        if (auto* button = qobject_cast<QCheckBox*>(widget))
            text = button->text();
        else if (auto* radio = qobject_cast<QRadioButton*>(widget))
            text = radio->text();
        else if (auto* label = qobject_cast<QLabel*>(widget); label != nullptr && !label->wordWrap())
            text = label->text();
        else
            continue;
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
        expectNoTextCutOff(camera);
        setupComm comm(ui, app.portMap);
        expectNoTextCutOff(comm);
        autoshootsetup autoshoot(ui);
        expectNoTextCutOff(autoshoot);
    }
    QApplication::setFont(original);
}

}  // namespace
}  // namespace tarvi
