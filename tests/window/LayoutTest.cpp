// The window's controls: names, kinds, parents, places, captions, hints, limits and the state
// they start in. Other parts of the program find the controls by these names.
#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QTabWidget>
#include <QTextEdit>
#include <QToolButton>
#include <memory>
#include <string>
#include <vector>

#include "Unit1.h"
#include "WindowTestSupport.h"

namespace {

class LayoutTest : public ::testing::Test {
protected:
    ScratchConfig config;
    std::unique_ptr<TForm1> form = std::make_unique<TForm1>();

    QWidget* widget(const char* name) const {
        return form->findChild<QWidget*>(QLatin1String(name));
    }
};

// ---- Kind, parent and geometry ----

struct Placed {
    const char* name;
    const char* kind;    // Qt class the control is or derives from
    const char* parent;  // nearest named ancestor
    int x, y, w, h;      // -1: not fixed by the layout
};

const std::vector<Placed> kPlaced = {
    // Left column
    {"GroupBox7", "QGroupBox", "ClientArea", 8, 0, 249, 316},
    {"Memo1", "QPlainTextEdit", "ClientArea", 8, 320, 249, 49},
    {"GroupBox2", "QGroupBox", "ClientArea", 8, 372, 89, 65},
    {"ComboBox1", "QComboBox", "GroupBox2", 12, 22, 65, 21},
    {"Reconnect", "QPushButton", "ClientArea", 104, 372, 153, 21},
    {"Leds", "QPushButton", "ClientArea", 104, 396, 153, 21},
    {"Test", "QPushButton", "ClientArea", 104, 420, 73, 21},
    {"ByPass", "QPushButton", "ClientArea", 184, 420, 73, 21},
    {"Panel1", "QFrame", "GroupBox7", 8, 24, 233, 105},
    {"Model", "QLineEdit", "Panel1", 64, 8, 161, 17},
    {"ModelPlus", "QToolButton", "Panel1", 183, 44, 25, 25},
    {"ModelMinus", "QToolButton", "Panel1", 183, 68, 25, 25},
    {"ModelConst", "QLineEdit", "Panel1", 64, 38, 25, 21},
    {"Firmware", "QLineEdit", "Panel1", 64, 75, 81, 15},
    {"Label5", "QLabel", "Panel1", 8, 75, -1, -1},
    {"SU36G", "QLineEdit", "Panel1", 64, 72, 33, 21},
    {"ManufactureDate", "QLineEdit", "GroupBox7", 144, 136, 73, 21},
    {"BatteriesReplaseDate", "QLineEdit", "GroupBox7", 144, 160, 73, 21},
    {"ID", "QLineEdit", "GroupBox7", 144, 184, 73, 21},
    {"SerialNumber", "QLineEdit", "GroupBox7", 104, 208, 113, 21},
    {"LineFrequency", "QLineEdit", "GroupBox7", 176, 232, 41, 21},
    {"Label1", "QLabel", "GroupBox7", -1, -1, -1, -1},
    {"Temperature", "QLineEdit", "GroupBox7", 176, 260, 41, 21},
    {"Label4", "QLabel", "GroupBox7", -1, -1, -1, -1},
    {"BatSysVolt", "QLineEdit", "GroupBox7", 176, 288, 41, 21},
    {"Label16", "QLabel", "GroupBox7", -1, -1, -1, -1},
    // Page control
    {"PageControl1", "QTabWidget", "ClientArea", 264, 4, 353, 433},
    {"TabSheet1", "QWidget", "PageControl1", -1, -1, -1, -1},
    {"TabSheet2", "QWidget", "PageControl1", -1, -1, -1, -1},
    {"TabSheet3", "QWidget", "PageControl1", -1, -1, -1, -1},
    {"TabSheet4", "QWidget", "PageControl1", -1, -1, -1, -1},
    {"TabSheet5", "QWidget", "PageControl1", -1, -1, -1, -1},
    {"TabSheet6", "QWidget", "PageControl1", -1, -1, -1, -1},
    {"TabSheet7", "QWidget", "PageControl1", -1, -1, -1, -1},
    {"TabSheet8", "QWidget", "PageControl1", -1, -1, -1, -1},
    {"TabSheet9", "QWidget", "PageControl1", -1, -1, -1, -1},
    // Smart-UPS
    {"GroupBox1", "QGroupBox", "TabSheet1", 8, 8, 105, 145},
    {"Const4", "QLineEdit", "GroupBox1", 8, 34, 25, 21},
    {"Const5", "QLineEdit", "GroupBox1", 40, 34, 25, 21},
    {"Const6", "QLineEdit", "GroupBox1", 72, 34, 25, 21},
    {"Const_3", "QLineEdit", "GroupBox1", 8, 74, 25, 21},
    {"Const0", "QLineEdit", "GroupBox1", 40, 74, 25, 21},
    {"ConstCTRLD", "QLineEdit", "GroupBox1", 72, 74, 25, 21},
    {"Const_4", "QLineEdit", "GroupBox1", 8, 113, 25, 21},
    {"Const_5", "QLineEdit", "GroupBox1", 40, 113, 25, 21},
    {"Const_6", "QLineEdit", "GroupBox1", 72, 113, 25, 21},
    {"GroupBox21", "QGroupBox", "TabSheet1", 120, 8, 217, 145},
    {"BatteryVoltageSmart", "QLineEdit", "GroupBox21", 88, 12, 41, 21},
    {"BatteryPacks", "QLineEdit", "GroupBox21", 88, 44, 41, 21},
    {"UpTransferVoltage", "QLineEdit", "GroupBox21", 88, 72, 41, 21},
    {"LowTransferVoltage", "QLineEdit", "GroupBox21", 88, 96, 41, 21},
    {"OutputVoltageConstant", "QLineEdit", "GroupBox21", 88, 120, 41, 21},
    {"BatteryVoltageMinus", "QToolButton", "GroupBox21", 147, 10, 25, 25},
    {"BatteryVoltagePlus", "QToolButton", "GroupBox21", 179, 10, 25, 25},
    {"BatteryPacksMinus", "QToolButton", "GroupBox21", 147, 42, 25, 25},
    {"BatteryPacksPlus", "QToolButton", "GroupBox21", 179, 42, 25, 25},
    {"UpVoltageConstChange", "QPushButton", "GroupBox21", 138, 74, 71, 17},
    {"LowVoltageConstChange", "QPushButton", "GroupBox21", 138, 98, 71, 17},
    {"OutVoltageConstChange", "QPushButton", "GroupBox21", 138, 122, 71, 17},
    {"GroupBox8", "QGroupBox", "TabSheet1", 8, 160, 217, 57},
    {"RunTimeBar", "QProgressBar", "GroupBox8", 8, 16, 201, 16},
    {"RunTime", "QLineEdit", "GroupBox8", -1, -1, -1, -1},
    {"GroupBox14", "QGroupBox", "TabSheet1", 232, 160, 105, 57},
    {"BatteryChargedBar", "QProgressBar", "GroupBox14", 8, 15, 89, 16},
    {"Shape17", "TShape", "GroupBox14", 8, 16, 25, 19},
    {"BatteryCharged", "QLineEdit", "GroupBox14", -1, -1, -1, -1},
    {"GroupBox4", "QGroupBox", "TabSheet1", 7, 224, 106, 153},
    {"LoadBar", "QProgressBar", "GroupBox4", 8, 16, 17, 129},
    {"Shape1", "TShape", "GroupBox4", 8, 16, 21, 32},
    {"Shape2", "TShape", "GroupBox4", 8, 47, 21, 98},
    {"LoadPercent", "QLineEdit", "GroupBox4", 40, 24, -1, -1},
    {"LoadPlus", "QToolButton", "GroupBox4", 48, 48, 25, 25},
    {"LoadMinus", "QToolButton", "GroupBox4", 48, 72, 25, 25},
    {"LoadW", "QLineEdit", "GroupBox4", 40, -1, -1, -1},
    {"LoadSmartConst", "QLineEdit", "GroupBox4", 40, 120, 41, 21},
    {"GroupBox5", "QGroupBox", "TabSheet1", 119, 224, 106, 153},
    {"InputVoltageBar", "QProgressBar", "GroupBox5", 8, 16, 17, 129},
    {"Shape3", "TShape", "GroupBox5", 8, 16, 21, 25},
    {"Shape4", "TShape", "GroupBox5", 8, 39, 21, 26},
    {"Shape5", "TShape", "GroupBox5", 8, 63, 21, 11},
    {"InputVoltage", "QLineEdit", "GroupBox5", 40, 24, -1, -1},
    {"InputVoltagePlus", "QToolButton", "GroupBox5", 48, 48, 25, 25},
    {"InputVoltageMinus", "QToolButton", "GroupBox5", 48, 72, 25, 25},
    {"InputVoltageConstantSmart", "QLineEdit", "GroupBox5", 40, 120, 41, 21},
    {"GroupBox6", "QGroupBox", "TabSheet1", 231, 224, 106, 153},
    {"OutputVoltageBar", "QProgressBar", "GroupBox6", 8, 16, 17, 129},
    {"Shape6", "TShape", "GroupBox6", 8, 16, 21, 25},
    {"Shape7", "TShape", "GroupBox6", 8, 40, 21, 26},
    {"Shape8", "TShape", "GroupBox6", 8, 65, 21, 11},
    {"OutputVoltage", "QLineEdit", "GroupBox6", 40, 74, -1, -1},
    // Back-PRO
    {"GroupBox22", "QGroupBox", "TabSheet2", 8, 8, 329, 193},
    {"Ratio", "QLineEdit", "GroupBox22", 48, 22, 49, 21},
    {"RatioMinus", "QToolButton", "GroupBox22", 104, -1, 25, 25},
    {"RatioPlus", "QToolButton", "GroupBox22", 136, -1, 25, 25},
    {"BBDVoltage", "QLineEdit", "GroupBox22", 48, 62, 49, 21},
    {"BBDVoltageMinus", "QToolButton", "GroupBox22", 104, -1, 25, 25},
    {"BBDVoltagePlus", "QToolButton", "GroupBox22", 136, -1, 25, 25},
    {"EUTVoltage", "QLineEdit", "GroupBox22", 48, 102, 49, 21},
    {"EUTVoltageMinus", "QToolButton", "GroupBox22", 104, -1, 25, 25},
    {"EUTVoltagePlus", "QToolButton", "GroupBox22", 136, -1, 25, 25},
    {"BatteryVoltagePRO", "QLineEdit", "GroupBox22", 208, 22, 49, 21},
    {"BatteryVoltageBackProMinus", "QToolButton", "GroupBox22", 264, -1, 25, 25},
    {"BatteryVoltageBackProPlus", "QToolButton", "GroupBox22", 296, -1, 25, 25},
    {"FloatBackPro", "QLineEdit", "GroupBox22", 208, 62, 49, 21},
    {"FloatBackProMinus", "QToolButton", "GroupBox22", 264, -1, 25, 25},
    {"FloatBackProPlus", "QToolButton", "GroupBox22", 296, -1, 25, 25},
    {"DCOffset", "QLineEdit", "GroupBox22", 208, 102, 49, 21},
    {"DCOffsetMinus", "QToolButton", "GroupBox22", 264, -1, 25, 25},
    {"DCOffsetPlus", "QToolButton", "GroupBox22", 296, -1, 25, 25},
    {"CapasitorLoad", "QLineEdit", "GroupBox22", 128, 150, 49, 21},
    {"CapasitorLoadMinus", "QToolButton", "GroupBox22", 184, -1, 25, 25},
    {"CapasitorLoadPlus", "QToolButton", "GroupBox22", 216, -1, 25, 25},
    {"GroupBox11", "QGroupBox", "TabSheet2", 7, 224, 106, 153},
    {"LoadBackProBar", "QProgressBar", "GroupBox11", 8, 16, 17, 129},
    {"Shape12", "TShape", "GroupBox11", 8, 16, 21, 38},
    {"Shape13", "TShape", "GroupBox11", 8, 52, 21, 93},
    {"LoadPercentBackPro", "QLineEdit", "GroupBox11", -1, -1, -1, -1},
    {"LoadBackProPlus", "QToolButton", "GroupBox11", -1, -1, 25, 25},
    {"LoadBackProMinus", "QToolButton", "GroupBox11", -1, -1, 25, 25},
    {"LoadWBackPro", "QLineEdit", "GroupBox11", -1, -1, -1, -1},
    {"GroupBox13", "QGroupBox", "TabSheet2", 119, 224, 106, 153},
    {"InputVoltageBackProBar", "QProgressBar", "GroupBox13", 8, 16, 17, 129},
    {"Shape14", "TShape", "GroupBox13", 8, 16, 21, 24},
    {"Shape15", "TShape", "GroupBox13", 8, 39, 21, 27},
    {"Shape16", "TShape", "GroupBox13", 8, 63, 21, 11},
    {"InputVoltageBackPro", "QLineEdit", "GroupBox13", -1, -1, -1, -1},
    {"InputVoltageBackProPlus", "QToolButton", "GroupBox13", -1, -1, 25, 25},
    {"InputVoltageBackProMinus", "QToolButton", "GroupBox13", -1, -1, 25, 25},
    {"InputVoltageConstantBP", "QLineEdit", "GroupBox13", -1, -1, -1, -1},
    {"GroupBox12", "QGroupBox", "TabSheet2", 231, 224, 106, 153},
    {"OutputVoltageBackProBar", "QProgressBar", "GroupBox12", 8, 16, 17, 129},
    {"Shape9", "TShape", "GroupBox12", -1, -1, -1, -1},
    {"Shape10", "TShape", "GroupBox12", -1, -1, -1, -1},
    {"Shape11", "TShape", "GroupBox12", -1, -1, -1, -1},
    {"OutputVoltageBackPro", "QLineEdit", "GroupBox12", -1, -1, -1, -1},
    // Smart 2-nd Gen.
    {"GroupBox3", "QGroupBox", "TabSheet3", 8, 8, 105, 145},
    {"Const52nd", "QLineEdit", "GroupBox3", 8, 34, 25, 21},
    {"Const62nd", "QLineEdit", "GroupBox3", 40, 34, 25, 21},
    {"Const02nd", "QLineEdit", "GroupBox3", 72, 34, 25, 21},
    {"GroupBox20", "QGroupBox", "TabSheet3", 120, 8, 217, 145},
    {"BatteryVoltage2nd", "QLineEdit", "GroupBox20", 90, 19, 41, 15},
    {"Label14", "QLabel", "GroupBox20", -1, -1, -1, -1},
    {"Bat2ndMinus", "QToolButton", "GroupBox20", 168, 14, 25, 25},
    {"BatSmart2nd", "QLineEdit", "GroupBox20", 88, 40, 41, 21},
    {"Bevel10", "QFrame", "GroupBox20", 1, 48, 215, 18},
    {"UpVoltage2nd", "QLineEdit", "GroupBox20", 88, 70, -1, -1},
    {"LowVoltage2nd", "QLineEdit", "GroupBox20", 88, 94, -1, -1},
    {"OutputVoltageConstant2nd", "QLineEdit", "GroupBox20", 88, 118, -1, -1},
    {"UpVoltageChange2nd", "QPushButton", "GroupBox20", 138, -1, 71, 17},
    {"LowVoltageChange2nd", "QPushButton", "GroupBox20", 138, -1, 71, 17},
    {"OutVoltageChange2nd", "QPushButton", "GroupBox20", 138, -1, 71, 17},
    {"GroupBox17", "QGroupBox", "TabSheet3", 8, 160, 217, 57},
    {"RunTime2ndBar", "QProgressBar", "GroupBox17", -1, -1, -1, -1},
    {"RunTime2nd", "QLineEdit", "GroupBox17", -1, -1, -1, -1},
    {"GroupBox18", "QGroupBox", "TabSheet3", 232, 160, 105, 57},
    {"BatteryCharged2ndBar", "QProgressBar", "GroupBox18", -1, -1, -1, -1},
    {"Shape26", "TShape", "GroupBox18", -1, -1, -1, -1},
    {"BatteryCharged2nd", "QLineEdit", "GroupBox18", -1, -1, -1, -1},
    {"GroupBox10", "QGroupBox", "TabSheet3", 7, 224, 106, 153},
    {"Load2ndBar", "QProgressBar", "GroupBox10", -1, -1, -1, -1},
    {"Shape18", "TShape", "GroupBox10", -1, -1, -1, -1},
    {"Shape19", "TShape", "GroupBox10", -1, -1, -1, -1},
    {"LoadPercent2nd", "QLineEdit", "GroupBox10", -1, -1, -1, -1},
    {"Load2ndMinus", "QToolButton", "GroupBox10", 48, 72, 25, 25},
    {"LoadW2nd", "QLineEdit", "GroupBox10", -1, -1, -1, -1},
    {"LoadSmart2nd", "QLineEdit", "GroupBox10", -1, -1, -1, -1},
    {"GroupBox16", "QGroupBox", "TabSheet3", 119, 224, 106, 153},
    {"InputVoltage2ndBar", "QProgressBar", "GroupBox16", -1, -1, -1, -1},
    {"Shape20", "TShape", "GroupBox16", -1, -1, -1, -1},
    {"Shape24", "TShape", "GroupBox16", -1, -1, -1, -1},
    {"Shape25", "TShape", "GroupBox16", -1, -1, -1, -1},
    {"InputVoltage2nd", "QLineEdit", "GroupBox16", -1, -1, -1, -1},
    {"InputVoltage2ndMinus", "QToolButton", "GroupBox16", -1, -1, 25, 25},
    {"InputVoltageConstantSmart2nd", "QLineEdit", "GroupBox16", -1, -1, -1, -1},
    {"GroupBox15", "QGroupBox", "TabSheet3", 231, 224, 106, 153},
    {"OutputVoltage2ndBar", "QProgressBar", "GroupBox15", -1, -1, -1, -1},
    {"Shape21", "TShape", "GroupBox15", -1, -1, -1, -1},
    {"Shape22", "TShape", "GroupBox15", -1, -1, -1, -1},
    {"Shape23", "TShape", "GroupBox15", -1, -1, -1, -1},
    {"OutputVoltage2nd", "QLineEdit", "GroupBox15", -1, -1, -1, -1},
    // Back-UPS CS
    {"Panel2", "QFrame", "TabSheet4", 8, 16, 345, 73},
    {"BackCSVoltage", "QLineEdit", "Panel2", 180, 26, 49, 21},
    // Settings
    {"Panel4", "QFrame", "TabSheet5", 24, 8, 297, 369},
    {"LowBatWarning", "QLineEdit", "Panel4", 152, 16, 23, 21},
    {"ShutDownDelay", "QLineEdit", "Panel4", 143, 48, 33, 21},
    {"WakeUpDelay", "QLineEdit", "Panel4", 143, 80, 33, 21},
    {"SelfTest", "QLineEdit", "Panel4", 143, 112, 33, 21},
    {"Threshold", "QLineEdit", "Panel4", 143, 144, 33, 21},
    {"Sensitivity", "QLineEdit", "Panel4", 120, 176, 56, 21},
    {"AlarmDelay", "QLineEdit", "Panel4", 96, 208, 80, 21},
    {"Label15", "QLabel", "Panel4", -1, -1, -1, -1},
    {"Label60", "QLabel", "Panel4", -1, -1, -1, -1},
    {"Label61", "QLabel", "Panel4", -1, -1, -1, -1},
    {"Label6", "QLabel", "Panel4", -1, -1, -1, -1},
    {"Label2", "QLabel", "Panel4", -1, -1, -1, -1},
    {"LowBatWarningChange", "QPushButton", "Panel4", 207, 16, 67, 21},
    {"ShutDownDelayChange", "QPushButton", "Panel4", 207, 48, 67, 21},
    {"WakeUpDelayChange", "QPushButton", "Panel4", 207, 80, 67, 21},
    {"SelfTestChange", "QPushButton", "Panel4", 207, 112, 67, 21},
    {"ThresholdChange", "QPushButton", "Panel4", 207, 144, 67, 21},
    {"SensitivityChange", "QPushButton", "Panel4", 207, 176, 67, 21},
    {"AlarmDelayChange", "QPushButton", "Panel4", 207, 208, 67, 21},
    {"ResetAll", "QPushButton", "Panel4", 80, 248, 145, 21},
    {"Bevel1", "QFrame", "Panel4", 0, 280, 296, 10},
    // Status
    {"GroupBox9", "QGroupBox", "TabSheet6", 0, 0, 171, 153},
    {"GroupBox19", "QGroupBox", "TabSheet6", 173, 0, 171, 153},
    {"GroupBox23", "QGroupBox", "TabSheet6", 0, 152, 171, 153},
    {"GroupBox25", "QGroupBox", "TabSheet6", 173, 152, 171, 153},
    {"GroupBox24", "QGroupBox", "TabSheet6", 0, 304, 344, 73},
    {"UPSMessage", "QTextEdit", "GroupBox24", 8, 16, 329, 49},
    // Graphics
    {"GroupBox26", "QGroupBox", "TabSheet7", 0, 0, 345, 177},
    {"KPerformanceGraph1", "KPerformanceGraph", "GroupBox26", 32, 16, 300, 150},
    {"Label7", "QLabel", "GroupBox26", 5, 27, -1, -1},
    {"Label3", "QLabel", "GroupBox26", 5, 43, -1, -1},
    {"Label8", "QLabel", "GroupBox26", 5, 58, -1, -1},
    {"Label12", "QLabel", "GroupBox26", 5, 73, -1, -1},
    {"Bevel2", "QFrame", "GroupBox26", 6, 32, 26, -1},
    {"Bevel3", "QFrame", "GroupBox26", 6, 47, 26, -1},
    {"Bevel4", "QFrame", "GroupBox26", 6, 62, 26, -1},
    {"Bevel8", "QFrame", "GroupBox26", 6, 78, 26, -1},
    {"GroupBox27", "QGroupBox", "TabSheet7", 0, 176, 345, 177},
    {"KPerformanceGraph2", "KPerformanceGraph", "GroupBox27", 32, 15, 300, 150},
    {"Label9", "QLabel", "GroupBox27", 5, 34, -1, -1},
    {"Label10", "QLabel", "GroupBox27", 5, 76, -1, -1},
    {"Label11", "QLabel", "GroupBox27", 5, 98, -1, -1},
    {"Label13", "QLabel", "GroupBox27", 5, 114, -1, -1},
    {"Bevel5", "QFrame", "GroupBox27", 6, 40, 26, -1},
    {"Bevel6", "QFrame", "GroupBox27", 6, 79, 26, -1},
    {"Bevel7", "QFrame", "GroupBox27", 6, 104, 26, -1},
    {"Bevel9", "QFrame", "GroupBox27", 6, 119, 26, -1},
    {"Graphics", "QComboBox", "TabSheet7", 112, 360, 121, 21},
    // EEPROM
    {"Panel3", "QFrame", "TabSheet8", 8, 16, 329, 369},
    {"PageControl2", "QTabWidget", "Panel3", 8, 8, 313, 281},
    {"Buffer1", "QWidget", "PageControl2", -1, -1, -1, -1},
    {"Buffer2", "QWidget", "PageControl2", -1, -1, -1, -1},
    {"Compare", "QWidget", "PageControl2", -1, -1, -1, -1},
    {"RichEdit1", "QTextEdit", "Buffer1", 16, 16, 273, 225},
    {"RichEdit2", "QTextEdit", "Buffer2", 16, 16, 273, 225},
    {"RichEdit6", "QTextEdit", "Compare", 16, 16, 273, 209},
    {"ProgressBar1", "QProgressBar", "Panel3", 28, 296, 273, 9},
    {"ReadEE", "QPushButton", "Panel3", 28, 315, 113, 21},
    {"CompareEE", "QPushButton", "Panel3", 188, 315, 113, 21},
    {"SaveEE", "QPushButton", "Panel3", 108, 340, 113, 21},
    // Constants
    {"Memo2", "QPlainTextEdit", "TabSheet9", 0, 0, 345, 385},
    // Frame of the window
    {"StatusBar1", "QStatusBar", "TForm1", -1, -1, -1, -1},
    {"MainMenu1", "QMenuBar", "TForm1", -1, -1, -1, -1},
};

TEST_F(LayoutTest, EveryControlHasItsKindParentAndPlace) {
    for (const Placed& c : kPlaced) {
        SCOPED_TRACE(c.name);
        QWidget* w = widget(c.name);
        ASSERT_NE(w, nullptr);
        EXPECT_TRUE(w->inherits(c.kind)) << w->metaObject()->className();
        QObject* parent = namedParent(w);
        ASSERT_NE(parent, nullptr);
        EXPECT_EQ(parent->objectName().toStdString(), c.parent);
        const QRect g = w->geometry();
        if (c.x >= 0) {
            EXPECT_EQ(g.x(), c.x);
        }
        if (c.y >= 0) {
            EXPECT_EQ(g.y(), c.y);
        }
        if (c.w >= 0) {
            EXPECT_EQ(g.width(), c.w);
        }
        if (c.h >= 0) {
            EXPECT_EQ(g.height(), c.h);
        }
    }
}

TEST_F(LayoutTest, StatusCheckBoxesAreEightPerRegisterInBitOrder) {
    const struct {
        const char* group;
        int first;
    } registers[] = {{"GroupBox9", 9}, {"GroupBox19", 17}, {"GroupBox23", 1}, {"GroupBox25", 25}};
    for (const auto& r : registers) {
        for (int bit = 0; bit < 8; ++bit) {
            const std::string name = "CheckBox" + std::to_string(r.first + bit);
            SCOPED_TRACE(name);
            auto* box = form->findChild<QCheckBox*>(QString::fromStdString(name));
            ASSERT_NE(box, nullptr);
            EXPECT_EQ(namedParent(box)->objectName().toStdString(), r.group);
            EXPECT_EQ(box->geometry(), QRect(8, 16 + 16 * bit, 161, 17));
            EXPECT_FALSE(box->isEnabled());
            EXPECT_FALSE(box->isChecked());
            EXPECT_FALSE(box->font().bold());
            const bool green = r.first + bit >= 26 && r.first + bit <= 28;
            EXPECT_EQ(box->palette().color(QPalette::Active, QPalette::WindowText),
                      green ? QColor(0, 128, 0) : QColor(255, 0, 0));
        }
    }
}

// ---- Captions and hints ----

struct Caption {
    const char* name;
    const char* text;
};

QString captionOf(QWidget* w) {
    if (auto* group = qobject_cast<QGroupBox*>(w))
        return group->title();
    if (auto* label = qobject_cast<QLabel*>(w))
        return label->text();
    if (auto* button = qobject_cast<QAbstractButton*>(w))
        return button->text();
    return QStringLiteral("<no caption>");
}

TEST_F(LayoutTest, CaptionsAreExact) {
    const Caption captions[] = {
        {"GroupBox7", "General UPS Information"},
        {"GroupBox2", "Choose Port"},
        {"Reconnect", "Reconnect to UPS"},
        {"Leds", "Leds and Alarm Test"},
        {"Test", "Self Test"},
        {"ByPass", "BYPASS"},
        {"Label5", "Firmware :"},
        {"Label1", "Hz"},
        {"Label4", "C"},
        {"Label16", "V"},
        {"GroupBox1", "Smart Constants"},
        {"GroupBox21", "Voltage"},
        {"UpVoltageConstChange", "Change"},
        {"LowVoltageConstChange", "Change"},
        {"OutVoltageConstChange", "Change"},
        {"GroupBox8", "Run Time"},
        {"GroupBox14", "Battery Charged"},
        {"GroupBox4", "Load"},
        {"GroupBox5", "Input"},
        {"GroupBox6", "Output"},
        {"GroupBox22", "Back-PRO Settings"},
        {"GroupBox11", "Load"},
        {"GroupBox13", "Input"},
        {"GroupBox12", "Output"},
        {"GroupBox3", "Smart Constants"},
        {"GroupBox20", "Voltage"},
        {"Label14", "V"},
        {"UpVoltageChange2nd", "Change"},
        {"GroupBox17", "Run Time"},
        {"GroupBox18", "Battery Charged"},
        {"GroupBox10", "Load"},
        {"GroupBox16", "Input"},
        {"GroupBox15", "Output"},
        {"Label15", "Min"},
        {"Label60", "Sec"},
        {"Label61", "Sec"},
        {"Label6", "Hr"},
        {"Label2", "%"},
        {"LowBatWarningChange", "Change"},
        {"ResetAll", "Reset all to default"},
        {"GroupBox9", "Register 1"},
        {"GroupBox19", "Register 2"},
        {"GroupBox23", "Register 3"},
        {"GroupBox25", "Status"},
        {"CheckBox9", "In Wakeup mode."},
        {"CheckBox22", "UPS still in bypass.No battery."},
        {"CheckBox7", "Bypass relay mulfunction."},
        {"CheckBox8", "Temperature exeeded."},
        {"CheckBox25", "Runtime calibration occured."},
        {"CheckBox32", "Replace Battery."},
        {"GroupBox24", "Messages from UPS"},
        {"GroupBox26", "Input Voltage"},
        {"GroupBox27", "Battery Charged"},
        {"Label7", "253v"},
        {"Label3", "220v"},
        {"Label8", "188v"},
        {"Label12", "160v"},
        {"Label9", "75%"},
        {"Label10", "50%"},
        {"Label11", "35%"},
        {"Label13", "25%"},
        {"ReadEE", "Read EEPROM"},
        {"CompareEE", "Compare Buffers"},
        {"SaveEE", "Save to File"},
    };
    for (const Caption& c : captions) {
        SCOPED_TRACE(c.name);
        QWidget* w = widget(c.name);
        ASSERT_NE(w, nullptr);
        EXPECT_EQ(captionOf(w).toStdString(), c.text);
    }
    EXPECT_EQ(form->windowTitle(), QStringLiteral(" Morlen   Rev 2.5.1.160"));
}

// The labels that travel with a field, by the field's name.
TEST_F(LayoutTest, FieldLabelsAreExact) {
    const Caption labels[] = {
        {"Model", "Model :"},
        {"ModelConst", "Hex Code :"},
        {"Firmware", "Firmware :"},
        {"SU36G", "SU36G"},
        {"ManufactureDate", "UPS Manufacture Date"},
        {"BatteriesReplaseDate", "Batteries Replaced Date"},
        {"ID", "UPS ID"},
        {"SerialNumber", "Serial Number"},
        {"LineFrequency", "Line Frequency"},
        {"Temperature", "Temperature Inside UPS"},
        {"BatSysVolt", "UPS battery system"},
        {"Const4", "   4"},
        {"Const5", "   5"},
        {"Const6", "   6"},
        {"Const_3", "   #"},
        {"Const0", "   0"},
        {"ConstCTRLD", "  ^d"},
        {"Const_4", "   $"},
        {"Const_5", "   %"},
        {"Const_6", "   ^"},
        {"BatteryVoltageSmart", "Bat.Voltage"},
        {"BatteryPacks", "Bat. Packs"},
        {"UpTransferVoltage", "Up  Voltage"},
        {"LowTransferVoltage", "Low Voltage"},
        {"OutputVoltageConstant", "Out Voltage"},
        {"RunTime", "Min."},
        {"BatteryCharged", "%"},
        {"LoadPercent", "%"},
        {"LoadW", "W"},
        {"LoadSmartConst", "W"},
        {"InputVoltage", "V"},
        {"InputVoltageConstantSmart", "V"},
        {"OutputVoltage", "V"},
        {"Ratio", "Ratio"},
        {"BBDVoltage", "B.B.D."},
        {"EUTVoltage", "E.U.T."},
        {"BatteryVoltagePRO", "Bat."},
        {"FloatBackPro", "Float"},
        {"DCOffset", "DC"},
        {"CapasitorLoad", "CAP"},
        {"LoadPercentBackPro", "%"},
        {"LoadWBackPro", "W"},
        {"InputVoltageBackPro", "V"},
        {"InputVoltageConstantBP", "V"},
        {"OutputVoltageBackPro", "V"},
        {"Const52nd", "   5"},
        {"Const62nd", "   6"},
        {"Const02nd", "   0"},
        {"BatteryVoltage2nd", "Bat. Voltage"},
        {"BatSmart2nd", "V"},
        {"UpVoltage2nd", "Up  Voltage"},
        {"LowVoltage2nd", "Low Voltage"},
        {"OutputVoltageConstant2nd", "Out Voltage"},
        {"RunTime2nd", "Min."},
        {"BatteryCharged2nd", "%"},
        {"LoadPercent2nd", "%"},
        {"LoadW2nd", "W"},
        {"LoadSmart2nd", "W"},
        {"InputVoltage2nd", "V"},
        {"InputVoltageConstantSmart2nd", "V"},
        {"OutputVoltage2nd", "V"},
        {"BackCSVoltage", "Battery Voltage"},
        {"LowBatWarning", "Low Battery Warning"},
        {"ShutDownDelay", "Shut down delay"},
        {"WakeUpDelay", "Wake up delay"},
        {"SelfTest", "Self Test"},
        {"Threshold", "Return threshold"},
        {"Sensitivity", "Sensitivity"},
        {"AlarmDelay", "Alarm delay"},
    };
    for (const Caption& c : labels) {
        SCOPED_TRACE(c.name);
        QWidget* field = widget(c.name);
        ASSERT_NE(field, nullptr);
        QLabel* label = form->labelOf(field);
        ASSERT_NE(label, nullptr);
        EXPECT_EQ(label->text().toStdString(), c.text);
        EXPECT_EQ(label->parentWidget(), field->parentWidget());
    }
}

TEST_F(LayoutTest, HintsAreExact) {
    const QString esc = QStringLiteral("Press ESC for old value.");
    const QString port =
        QStringLiteral("Before any action, set the PORT to which an UPS has been connected.");
    const QString loadEntry = QStringLiteral(
        "Unplug Input AC source from UPS & just enter correct Load in Watts. Press Enter.");
    const QString inputEntry = QStringLiteral("Just enter correct Input AC. Should be <= 235.");
    const QString backProLoad =
        QStringLiteral("Connect approximately 100% load.  Disconnect AC power. And adjust load.");
    const struct {
        const char* name;
        QString hint;
    } hints[] = {
        {"GroupBox7", QStringLiteral("General UPS Information.")},
        {"Memo1", QStringLiteral("Please READ EVERYTHING !")},
        {"GroupBox2", port},
        {"ComboBox1", port},
        {"Panel1", QStringLiteral("UPS Model and Firmware Revision.")},
        {"Model", QStringLiteral("Connected UPS Model")},
        {"ModelPlus", QStringLiteral("Change current UPS Model.")},
        {"ModelMinus", QStringLiteral("Change current UPS Model.")},
        {"ModelConst", QStringLiteral("Please, Enter Real Code ONLY !   Press ESC for old value.")},
        {"Firmware", QStringLiteral("Connected UPS Firmware")},
        {"SU36G", esc},
        {"ManufactureDate", esc},
        {"BatteriesReplaseDate", esc},
        {"ID", esc},
        {"SerialNumber", esc},
        {"Const4", esc},
        {"Const5", esc},
        {"Const6", esc},
        {"Const_3", esc},
        {"Const0", esc},
        {"Const_4", esc},
        {"Const_6", esc},
        {"Const_5", QString()},
        {"ConstCTRLD", QString()},
        {"BatteryVoltageMinus", QStringLiteral("Change Battery Voltage - DOWN.")},
        {"BatteryVoltagePlus", QStringLiteral("Change Battery Voltage - UP.")},
        {"GroupBox4", QStringLiteral("Current Load connected to UPS.")},
        {"LoadPlus", QStringLiteral("Change Load meter - UP. ")},
        {"LoadMinus", QStringLiteral("Change Load meter - DOWN. ")},
        {"LoadSmartConst", loadEntry},
        {"GroupBox5", QStringLiteral("Current Input Voltage connected to UPS.")},
        {"InputVoltagePlus", QStringLiteral("Change Input Voltage meter - UP.")},
        {"InputVoltageMinus", QStringLiteral("Change Input Voltage meter - DOWN.")},
        {"InputVoltageConstantSmart", inputEntry},
        {"GroupBox6", QStringLiteral("Current Output Voltage from UPS.")},
        {"OutputVoltageBar", QStringLiteral("Current output voltage from UPS.")},
        {"Ratio", QStringLiteral("Should be 253=< x <=254")},
        {"DCOffset", QStringLiteral("Should be 000.0")},
        {"CapasitorLoad", QStringLiteral("Should be 000.0")},
        {"BatteryVoltageBackProMinus", QStringLiteral("Change Battery Voltage - DOWN.")},
        {"BatteryVoltageBackProPlus", QStringLiteral("Change Battery Voltage - UP.")},
        {"GroupBox11", backProLoad},
        {"LoadBackProPlus", backProLoad},
        {"LoadBackProMinus", backProLoad},
        {"GroupBox13", QStringLiteral("Current Input Voltage connected to UPS.")},
        {"InputVoltageBackProPlus", QStringLiteral("Change Input Voltage meter - UP.")},
        {"InputVoltageBackProMinus", QStringLiteral("Change Input Voltage meter - DOWN.")},
        {"InputVoltageConstantBP", inputEntry},
        {"Const52nd", esc},
        {"Const62nd", esc},
        {"Const02nd", esc},
        {"Bat2ndMinus", QStringLiteral("Change Battery Voltage - DOWN.")},
        {"BatSmart2nd", QStringLiteral("Just enter correct Battery Voltage and press Enter. "
                                       "(Example : 27.60 )")},
        {"GroupBox10", QStringLiteral("Current Load connected to UPS.")},
        {"Load2ndMinus", QStringLiteral("Change current Load - DOWN. ")},
        {"LoadSmart2nd", loadEntry},
        {"InputVoltage2ndMinus", QStringLiteral("Change Input Voltage meter - DOWN.")},
        {"InputVoltageConstantSmart2nd", inputEntry},
        {"RichEdit6", QStringLiteral("Differ EEPROM content")},
        {"ReadEE", QStringLiteral("Read UPS EEPROM content")},
        {"CompareEE", QStringLiteral("Compare Buffer1 to Buffer2")},
        {"SaveEE", QStringLiteral("Save UPS EEPROM dump to File")},
    };
    for (const auto& h : hints) {
        SCOPED_TRACE(h.name);
        QWidget* w = widget(h.name);
        ASSERT_NE(w, nullptr);
        EXPECT_EQ(w->toolTip().toStdString(), h.hint.toStdString());
    }
}

// ---- Limits ----

TEST_F(LayoutTest, EntryFieldsHaveTheirMaximumLengthAndAreEditable) {
    const struct {
        const char* name;
        int maxLength;
    } fields[] = {
        {"ModelConst", 2},
        {"SU36G", 3},
        {"ManufactureDate", 8},
        {"BatteriesReplaseDate", 8},
        {"ID", 8},
        {"SerialNumber", 14},
        {"Const4", 2},
        {"Const5", 2},
        {"Const6", 2},
        {"Const_3", 2},
        {"Const0", 2},
        {"ConstCTRLD", 2},
        {"Const_4", 2},
        {"Const_5", 2},
        {"Const_6", 2},
        {"Const52nd", 2},
        {"Const62nd", 2},
        {"Const02nd", 2},
        {"LoadSmartConst", 4},
        {"LoadSmart2nd", 4},
        {"InputVoltageConstantSmart", 3},
        {"InputVoltageConstantSmart2nd", 3},
        {"InputVoltageConstantBP", 3},
        {"BatSmart2nd", 5},
    };
    for (const auto& f : fields) {
        SCOPED_TRACE(f.name);
        auto* edit = form->findChild<QLineEdit*>(QLatin1String(f.name));
        ASSERT_NE(edit, nullptr);
        EXPECT_EQ(edit->maxLength(), f.maxLength);
        EXPECT_FALSE(edit->isReadOnly());
    }
    const struct {
        const char* name;
        int maxLength;
    } settings[] = {
        {"ShutDownDelay", 4}, {"WakeUpDelay", 4}, {"SelfTest", 4},
        {"Threshold", 4},     {"Sensitivity", 8}, {"AlarmDelay", 16},
    };
    for (const auto& f : settings) {
        SCOPED_TRACE(f.name);
        auto* edit = form->findChild<QLineEdit*>(QLatin1String(f.name));
        ASSERT_NE(edit, nullptr);
        EXPECT_EQ(edit->maxLength(), f.maxLength);
    }
}

TEST_F(LayoutTest, DisplayFieldsAreReadOnly) {
    const char* const names[] = {"Model",
                                 "Firmware",
                                 "LineFrequency",
                                 "Temperature",
                                 "BatSysVolt",
                                 "BatteryVoltageSmart",
                                 "BatteryPacks",
                                 "UpTransferVoltage",
                                 "LowTransferVoltage",
                                 "OutputVoltageConstant",
                                 "RunTime",
                                 "BatteryCharged",
                                 "LoadPercent",
                                 "LoadW",
                                 "InputVoltage",
                                 "OutputVoltage",
                                 "Ratio",
                                 "BBDVoltage",
                                 "EUTVoltage",
                                 "BatteryVoltagePRO",
                                 "FloatBackPro",
                                 "DCOffset",
                                 "CapasitorLoad",
                                 "LoadPercentBackPro",
                                 "LoadWBackPro",
                                 "InputVoltageBackPro",
                                 "OutputVoltageBackPro",
                                 "BatteryVoltage2nd",
                                 "UpVoltage2nd",
                                 "LowVoltage2nd",
                                 "OutputVoltageConstant2nd",
                                 "RunTime2nd",
                                 "BatteryCharged2nd",
                                 "LoadPercent2nd",
                                 "LoadW2nd",
                                 "InputVoltage2nd",
                                 "OutputVoltage2nd",
                                 "BackCSVoltage",
                                 "LowBatWarning",
                                 "ShutDownDelay",
                                 "WakeUpDelay",
                                 "SelfTest",
                                 "Threshold",
                                 "Sensitivity",
                                 "AlarmDelay"};
    for (const char* name : names) {
        SCOPED_TRACE(name);
        auto* edit = form->findChild<QLineEdit*>(QLatin1String(name));
        ASSERT_NE(edit, nullptr);
        EXPECT_TRUE(edit->isReadOnly());
    }
    for (const char* name : {"Memo1", "Memo2"}) {
        EXPECT_TRUE(form->findChild<QPlainTextEdit*>(QLatin1String(name))->isReadOnly()) << name;
    }
    for (const char* name : {"UPSMessage", "RichEdit1", "RichEdit2", "RichEdit6"}) {
        EXPECT_TRUE(form->findChild<QTextEdit*>(QLatin1String(name))->isReadOnly()) << name;
    }
    // Model and Firmware are plain text without a border.
    EXPECT_FALSE(form->ui->Model->hasFrame());
    EXPECT_FALSE(form->ui->Firmware->hasFrame());
}

TEST_F(LayoutTest, BarsHaveTheirRangesAndOrientation) {
    const struct {
        const char* name;
        int maximum;
        Qt::Orientation orientation;
    } bars[] = {
        {"LoadBar", 130, Qt::Vertical},
        {"LoadBackProBar", 130, Qt::Vertical},
        {"Load2ndBar", 130, Qt::Vertical},
        {"InputVoltageBar", 300, Qt::Vertical},
        {"OutputVoltageBar", 300, Qt::Vertical},
        {"InputVoltageBackProBar", 300, Qt::Vertical},
        {"OutputVoltageBackProBar", 300, Qt::Vertical},
        {"InputVoltage2ndBar", 300, Qt::Vertical},
        {"OutputVoltage2ndBar", 300, Qt::Vertical},
        {"RunTimeBar", 500, Qt::Horizontal},
        {"RunTime2ndBar", 500, Qt::Horizontal},
        {"BatteryChargedBar", 100, Qt::Horizontal},
        {"BatteryCharged2ndBar", 100, Qt::Horizontal},
        {"ProgressBar1", 255, Qt::Horizontal},
    };
    for (const auto& b : bars) {
        SCOPED_TRACE(b.name);
        auto* bar = form->findChild<QProgressBar*>(QLatin1String(b.name));
        ASSERT_NE(bar, nullptr);
        EXPECT_EQ(bar->minimum(), 0);
        EXPECT_EQ(bar->maximum(), b.maximum);
        EXPECT_EQ(bar->orientation(), b.orientation);
        EXPECT_FALSE(bar->isTextVisible());
        // A position anywhere in the range is shown as such, not clamped to a smaller range.
        bar->setValue(b.maximum);
        EXPECT_EQ(bar->value(), b.maximum);
    }
}

TEST_F(LayoutTest, CodeFieldsHoldUpperCaseWhetherTypedOrSet) {
    for (const char* name :
         {"Const0", "Const4", "Const5", "Const6", "Const_3", "Const_4", "Const_5", "Const_6",
          "ConstCTRLD", "Const02nd", "Const52nd", "Const62nd", "ModelConst"}) {
        SCOPED_TRACE(name);
        auto* edit = form->findChild<QLineEdit*>(QLatin1String(name));
        ASSERT_NE(edit, nullptr);
        edit->setText(QStringLiteral("a2"));
        EXPECT_EQ(edit->text(), QStringLiteral("A2"));
        edit->clear();
        edit->insert(QStringLiteral("f"));
        edit->insert(QStringLiteral("c"));
        EXPECT_EQ(edit->text(), QStringLiteral("FC"));
    }
    // Other fields keep what they are given.
    form->ui->SerialNumber->setText(QStringLiteral("ws9643"));
    EXPECT_EQ(form->ui->SerialNumber->text(), QStringLiteral("ws9643"));
}

// ---- Colour scales ----

TEST_F(LayoutTest, ColourScalesShowBesideTheirBars) {
    const struct {
        const char* shape;
        QColor colour;
    } shapes[] = {{"Shape1", Qt::red},    {"Shape2", Qt::green},  {"Shape3", Qt::red},
                  {"Shape4", Qt::green},  {"Shape5", Qt::yellow}, {"Shape6", Qt::red},
                  {"Shape7", Qt::green},  {"Shape8", Qt::yellow}, {"Shape12", Qt::red},
                  {"Shape13", Qt::green}, {"Shape14", Qt::red},   {"Shape17", Qt::red},
                  {"Shape26", Qt::red},   {"Shape20", Qt::red},   {"Shape24", Qt::green},
                  {"Shape25", Qt::yellow}};
    for (const auto& s : shapes) {
        SCOPED_TRACE(s.shape);
        QWidget* shape = widget(s.shape);
        ASSERT_NE(shape, nullptr);
        // The bar of the group lies over the shape, so only a strip of the colour shows.
        QWidget* parent = shape->parentWidget();
        const auto bars = parent->findChildren<QProgressBar*>(Qt::FindDirectChildrenOnly);
        ASSERT_EQ(bars.size(), 1);
        const QList<QObject*> order = parent->children();
        EXPECT_LT(order.indexOf(shape), order.indexOf(bars.first()));
        const QImage image = shape->grab().toImage();
        const QPoint inside = shape->rect().center();
        EXPECT_EQ(QColor(image.pixel(inside)), s.colour);
    }
}

// ---- Fonts ----

TEST_F(LayoutTest, FontsFollowTheLayout) {
    EXPECT_EQ(form->font().pixelSize(), 11);
    EXPECT_EQ(form->ui->GroupBox7->font().bold(), true);
    EXPECT_EQ(form->ui->GroupBox26->font().bold(), true);
    EXPECT_EQ(form->ui->ManufactureDate->font().bold(), true);
    EXPECT_EQ(form->ui->BatSysVolt->font().bold(), true);
    EXPECT_EQ(form->ui->SerialNumber->font().bold(), false);
    EXPECT_EQ(form->ui->LineFrequency->font().bold(), false);
    EXPECT_EQ(form->labelOf(form->ui->SU36G)->font().bold(), true);
    for (QWidget* settingsField : {static_cast<QWidget*>(form->ui->LowBatWarning),
                                   static_cast<QWidget*>(form->ui->AlarmDelay)}) {
        EXPECT_TRUE(settingsField->font().bold());
    }
    EXPECT_TRUE(form->ui->ShutDownDelayChange->font().bold());

    const struct {
        QWidget* pane;
        int pixels;
        bool bold;
    } panes[] = {{form->ui->RichEdit1, 9, true},
                 {form->ui->RichEdit2, 9, true},
                 {form->ui->RichEdit6, 11, true},
                 {form->ui->Memo2, 11, false}};
    for (const auto& p : panes) {
        SCOPED_TRACE(p.pane->objectName().toStdString());
        const QFont font = p.pane->font();
        EXPECT_EQ(font.pixelSize(), p.pixels);
        EXPECT_EQ(font.bold(), p.bold);
        EXPECT_TRUE(QFontInfo(font).fixedPitch());
    }
}

// ---- Texts of the memos ----

TEST_F(LayoutTest, DisclaimerIsThirtyLinesEnglishThenRussian) {
    const QStringList lines = form->ui->Memo1->toPlainText().split(QLatin1Char('\n'));
    ASSERT_EQ(lines.size(), 30);
    EXPECT_EQ(lines.first().trimmed(), QStringLiteral("PLEASE ATTENTION!"));
    // Centred: about as much room on the left as the memo leaves on the right.
    EXPECT_GT(lines.first().indexOf(QLatin1Char('P')), 5);
    const QString text = lines.join(QLatin1Char('\n'));
    EXPECT_TRUE(lines.contains(QStringLiteral("USE THAT SOFTWARE WiTH CAUTION.")));
    EXPECT_TRUE(lines.contains(QStringLiteral("DO NOT EXPERIMENT WiTH SETTINGS.")));
    const int russian = text.indexOf(QStringLiteral("ВНИМАНИЕ!"));
    ASSERT_GT(russian, 0);
    EXPECT_LT(text.indexOf(QStringLiteral("in your country.")), russian);
    EXPECT_FALSE(text.contains(QStringLiteral("http")));
    EXPECT_FALSE(text.contains(QStringLiteral("www")));
    EXPECT_EQ(form->ui->Memo1->palette().color(QPalette::Active, QPalette::Text),
              QColor(255, 0, 0));
    EXPECT_EQ(form->ui->Memo1->palette().color(QPalette::Active, QPalette::Base),
              QColor(Qt::white));
}

TEST_F(LayoutTest, ConstantsTableIsPrintedLineForLine) {
    const QStringList lines = form->ui->Memo2->toPlainText().split(QLatin1Char('\n'));
    ASSERT_EQ(lines.size(), 63);
    EXPECT_EQ(lines[0], QStringLiteral("UPS Model         4  5  6  0    Hex   Firmware"));
    EXPECT_EQ(lines[7], QStringLiteral("SU450,700        28 F2 FA 96 07,RM=47  52.11.I"));
    EXPECT_EQ(lines[29], QStringLiteral("SC450RMI1U       0D 96 10 99    36     736.a.1"));
    // The letter O, not a zero, in these two lines.
    EXPECT_EQ(lines[30], QStringLiteral("SC420I           0E 95 OA 8C    16     725.1.I"));
    EXPECT_EQ(lines[31], QStringLiteral("SC620I           10 97 OB 99    1A     726.x.I"));
    EXPECT_EQ(lines[44], QStringLiteral("SUA1500I         09 B9 13 A1    0E 601/653.x.I"));
    EXPECT_EQ(lines[58], QStringLiteral("SURT7500XLI      03 BB 20 97    63     "));
    EXPECT_EQ(lines[62], QStringLiteral("BP500AVR                        26      17.1.I"));
    for (int i = 0; i < lines.size(); ++i) {
        if (i != 58) {
            EXPECT_FALSE(lines[i].endsWith(QLatin1Char(' '))) << "line " << i + 1;
        }
    }
}

// ---- Nothing is cut off ----

// Every caption, label, field text and memo line fits in its control at the window's font.
TEST_F(LayoutTest, NoTextIsClipped) {
    form->show();
    for (QLabel* label : form->findChildren<QLabel*>()) {
        SCOPED_TRACE(label->objectName().toStdString());
        const QFontMetrics metrics(label->font());
        EXPECT_LE(metrics.horizontalAdvance(label->text()), label->contentsRect().width());
        EXPECT_LE(metrics.height(), label->height());
        EXPECT_GE(label->x(), 0);
        EXPECT_LE(label->geometry().right(), label->parentWidget()->width());
    }
    for (QPushButton* button : form->findChildren<QPushButton*>()) {
        SCOPED_TRACE(button->objectName().toStdString());
        const QFontMetrics metrics(button->font());
        EXPECT_LE(metrics.horizontalAdvance(button->text()) + 8, button->width());
        EXPECT_LE(metrics.height(), button->height());
    }
    for (QCheckBox* box : form->findChildren<QCheckBox*>()) {
        SCOPED_TRACE(box->objectName().toStdString());
        QStyleOptionButton option;
        option.initFrom(box);
        option.text = box->text();
        const QRect text = box->style()->subElementRect(QStyle::SE_CheckBoxContents, &option, box);
        const int end = text.left() + QFontMetrics(box->font()).horizontalAdvance(box->text());
        // Inside the box and inside the frame of its group.
        EXPECT_LE(end, box->width());
        EXPECT_LE(box->x() + end, box->parentWidget()->contentsRect().right());
    }
    for (QGroupBox* group : form->findChildren<QGroupBox*>()) {
        SCOPED_TRACE(group->objectName().toStdString());
        const QFontMetrics metrics(group->font());
        EXPECT_LE(metrics.horizontalAdvance(group->title()) + 16, group->width());
    }
    for (QLineEdit* edit : form->findChildren<QLineEdit*>()) {
        SCOPED_TRACE(edit->objectName().toStdString());
        const int frame = edit->hasFrame() ? 4 : 0;
        EXPECT_LE(QFontMetrics(edit->font()).height(), edit->height() - frame + 2);
    }
    for (QPlainTextEdit* memo : {form->ui->Memo1, form->ui->Memo2}) {
        SCOPED_TRACE(memo->objectName().toStdString());
        const QFontMetrics metrics(memo->font());
        // The memo may never have been shown: take its room from its own size.
        const int room = memo->width() - 2 * memo->frameWidth() -
                         memo->verticalScrollBar()->sizeHint().width() -
                         2 * int(memo->document()->documentMargin());
        for (const QString& line : memo->toPlainText().split(QLatin1Char('\n'))) {
            EXPECT_LE(metrics.horizontalAdvance(line), room) << line.toStdString();
        }
    }
    // A row of the EEPROM dump: 53 columns, bytes under their column numbers.
    const QString row = QStringLiteral("      00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F");
    for (QTextEdit* pane : {form->ui->RichEdit1, form->ui->RichEdit2}) {
        SCOPED_TRACE(pane->objectName().toStdString());
        const int room =
            pane->width() - 2 * pane->frameWidth() - 2 * int(pane->document()->documentMargin());
        EXPECT_LE(QFontMetrics(pane->font()).horizontalAdvance(row), room);
    }
    TStatusBar* bar = form->ui->StatusBar1;
    for (int i = 0; i < bar->panelCount(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_LE(QFontMetrics(bar->font()).horizontalAdvance(bar->panelText(i)) + 3,
                  bar->panelRect(i).width());
    }
}

// ---- Menu and dialog ----

TEST_F(LayoutTest, OptionsMenuHoldsThreeCheckableItemsThenTheServiceItems) {
    auto* menu = form->findChild<QMenu*>(QStringLiteral("Options"));
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(menu->title(), QStringLiteral("Options"));
    ASSERT_EQ(form->menuBar()->objectName(), QStringLiteral("MainMenu1"));
    EXPECT_TRUE(form->menuBar()->actions().contains(menu->menuAction()));
    const Caption items[] = {{"SelfTestON1", "Smart-UPS Self Test OFF"},
                             {"AUTO1", "Smart-UPS 3Gen. Battery Const. AUTO Fix"},
                             {"HexCodeON", "UPS Model Hex Code Detection ON"}};
    const QList<QAction*> actions = menu->actions();
    ASSERT_EQ(actions.size(), 9);
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(items[i].name);
        QAction* action = actions[i];
        EXPECT_EQ(action->objectName().toStdString(), items[i].name);
        EXPECT_EQ(action->text().toStdString(), items[i].text);
        EXPECT_TRUE(action->isCheckable());
        // Choosing an item only toggles its mark.
        const bool before = action->isChecked();
        action->trigger();
        EXPECT_NE(action->isChecked(), before);
        action->trigger();
        EXPECT_EQ(action->isChecked(), before);
    }
    // Below a separator, the items that open windows of their own: no mark.
    EXPECT_TRUE(actions[3]->isSeparator());
    const Caption service[] = {{"ServiceJournal", "Service journal..."},
                               {"SharedJournal", "Shared journal..."},
                               {"SaveUnitSettings", "Save unit settings..."},
                               {"RestoreUnitSettings", "Restore unit settings..."},
                               {"BatteryService", "Battery service..."}};
    for (int i = 0; i < 5; ++i) {
        SCOPED_TRACE(service[i].name);
        EXPECT_EQ(actions[4 + i]->objectName().toStdString(), service[i].name);
        EXPECT_EQ(actions[4 + i]->text().toStdString(), service[i].text);
        EXPECT_FALSE(actions[4 + i]->isCheckable());
    }
    // Only while a unit is connected.
    EXPECT_FALSE(actions[8]->isEnabled());
}

TEST_F(LayoutTest, SaveDialogIsSetUp) {
    QFileDialog* dialog = form->SaveDialog1;
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->objectName(), QStringLiteral("SaveDialog1"));
    EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Save EEPROM as"));
    EXPECT_EQ(dialog->acceptMode(), QFileDialog::AcceptSave);
    EXPECT_EQ(dialog->defaultSuffix(), QStringLiteral("bin"));
    EXPECT_FALSE(dialog->testOption(QFileDialog::DontConfirmOverwrite));
    const QStringList filters = dialog->nameFilters();
    ASSERT_EQ(filters.size(), 4);
    EXPECT_EQ(filters[0], QStringLiteral("Morlen EEPROM Dump File (*.bin)"));
    EXPECT_EQ(filters[1], QStringLiteral("Morlen UPS Settings Backup File (*.mrn)"));
    EXPECT_EQ(filters[2], QStringLiteral("Text File (*.txt)"));
    EXPECT_TRUE(filters[3].startsWith(QStringLiteral("All Files (")));
    EXPECT_FALSE(dialog->isVisible());
}

}  // namespace
