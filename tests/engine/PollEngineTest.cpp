// The connection step and the poll thread, driving the real window against the simulated
// unit in virtual time.
#include <gtest/gtest.h>

#include <QFile>
#include <QLineEdit>
#include <QSettings>
#include <algorithm>
#include <cstdio>
#include <set>

#include "Apcdynamicdata.h"
#include "EngineBench.h"
#include "Profile.h"
#include "Tag.h"

namespace morlen::test {
namespace {

std::set<int> visibleTabs(QTabWidget* tabs) {
    std::set<int> out;
    for (int i = 0; i < tabs->count(); ++i)
        if (tabs->isTabVisible(i))
            out.insert(i + 1);
    return out;
}

bool tabEnabled(QTabWidget* tabs, QWidget* page) {
    return tabs->isTabEnabled(tabs->indexOf(page));
}

struct FamilyRow {
    const char* profile;
    const char* activePage;
    std::set<int> tabs;  // TabSheetN numbers whose tabs show
    int graphChoice;
    bool graphsEnabled;
};

TEST(Connection, EachFamilyGetsItsPageTabsAndGraphChoice) {
    const FamilyRow rows[] = {
        // Every family answers one of the battery page's reads (10).
        {"su1000", "TabSheet1", {1, 5, 6, 7, 9, 10}, 0, true},
        {"su620", "TabSheet1", {1, 5, 6, 7, 8, 9, 10}, 0, true},
        {"su1000-3g", "TabSheet1", {1, 5, 6, 7, 8, 9, 10}, 0, true},
        {"backpro", "TabSheet2", {2, 6, 7, 10}, 3, false},
        {"backcs", "TabSheet4", {4, 6, 10}, -1, false},
        {"noserial", "TabSheet1", {1, 6, 7, 9, 10}, 3, false},
        {"gen2-v2", "TabSheet3", {3, 5, 6, 7, 9, 10}, 0, true},
        {"smartslot", "TabSheet1", {1, 5, 6, 7, 10}, 0, true},
    };
    for (const auto& row : rows) {
        EngineBench bench(row.profile);
        bench.connectUnit();
        Ui::TForm1& ui = bench.ui();
        // The capability string (seconds at 2400 baud) is asked for by the identification
        // alone: the restore's offered values come from that one read.
        const std::string heard = bench.takeCommands();
        EXPECT_LE(std::count(heard.begin(), heard.end(), cmd::CtrlZ), 1) << row.profile;
        EXPECT_TRUE(bench.errors().empty()) << row.profile;
        EXPECT_FALSE(ui.PageControl1->isHidden()) << row.profile;
        EXPECT_FALSE(ui.GroupBox7->isHidden()) << row.profile;
        EXPECT_EQ(ui.PageControl1->currentWidget()->objectName(), row.activePage) << row.profile;
        EXPECT_EQ(visibleTabs(ui.PageControl1), row.tabs) << row.profile;
        EXPECT_EQ(ui.Graphics->currentIndex(), row.graphChoice) << row.profile;
        EXPECT_EQ(tagOf(ui.GroupBox26), row.graphChoice) << row.profile;
        EXPECT_EQ(ui.Graphics->isEnabled(), row.graphsEnabled) << row.profile;
        EXPECT_EQ(ui.Model->text().toStdString(), bench.form().ups->modelName.str()) << row.profile;
        EXPECT_FALSE(ui.ComboBox1->isEnabled()) << row.profile;
        EXPECT_FALSE(ui.Reconnect->isEnabled()) << row.profile;
        ASSERT_NE(bench.form().worker, nullptr) << row.profile;
        EXPECT_EQ(bench.form().workerEnded, 0) << row.profile;
        for (QWidget* page :
             {ui.TabSheet1, ui.TabSheet2, ui.TabSheet3, ui.TabSheet4, ui.TabSheet5, ui.TabSheet7}) {
            const int n = page->objectName().mid(8).toInt();
            EXPECT_EQ(tabEnabled(ui.PageControl1, page), row.tabs.count(n) == 1)
                << row.profile << " " << n;
        }
    }
}

TEST(Connection, SmartUnitFillsItsFieldsAndEnablesCalibration) {
    EngineBench bench("su1000");
    bench.connectUnit();
    Ui::TForm1& ui = bench.ui();
    const APCUPS& ups = *bench.form().ups;
    EXPECT_EQ(bench.form().statusText(), bench.form().textConnected);
    EXPECT_EQ(ui.SerialNumber->text().toStdString(), ups.serialNumber.str());
    EXPECT_EQ(ui.SerialNumber->maxLength(), 14);
    EXPECT_EQ(ui.Const0->text().toStdString(), ups.const0Text.str());
    EXPECT_EQ(ui.SelfTest->text().toStdString(), ups.selfTestIntervalText.str());
    EXPECT_EQ(ui.AlarmDelay->text().toStdString(), ups.alarmDelayText.str());
    EXPECT_EQ(ui.LoadSmartConst->maxLength(), 4);
    EXPECT_TRUE(ui.Firmware->isVisibleTo(&bench.form()));
    EXPECT_FALSE(ui.SU36G->isVisibleTo(&bench.form()));
    EXPECT_TRUE(ui.Leds->isEnabled());
    EXPECT_TRUE(ui.Test->isEnabled());
    EXPECT_FALSE(ui.ByPass->isEnabled());
    for (QWidget* group : std::initializer_list<QWidget*>{ui.GroupBox1, ui.GroupBox4, ui.GroupBox5,
                                                          ui.GroupBox21, ui.Panel4})
        EXPECT_TRUE(group->isEnabled()) << group->objectName().toStdString();
}

TEST(Connection, ThirdGenerationShowsTheFirmwareHeadAndItsConstants) {
    EngineBench bench("su1000-3g");
    bench.connectUnit();
    Ui::TForm1& ui = bench.ui();
    const APCUPS& ups = *bench.form().ups;
    EXPECT_FALSE(ui.Firmware->isVisibleTo(&bench.form()));
    EXPECT_TRUE(ui.SU36G->isVisibleTo(&bench.form()));
    EXPECT_EQ(ui.SU36G->text().toStdString(), ups.firmwareHead.str());
    ASSERT_NE(bench.form().labelOf(ui.SU36G), nullptr);
    EXPECT_EQ(bench.form().labelOf(ui.SU36G)->text().toStdString(), ups.firmwareText.str());
    EXPECT_TRUE(ui.Const_4->isVisibleTo(&bench.form()));
    EXPECT_TRUE(ui.Const_5->isVisibleTo(&bench.form()));
}

TEST(Connection, MonitorOnlyUnitKeepsCalibrationDisabled) {
    EngineBench bench("smartslot");
    bench.connectUnit();
    Ui::TForm1& ui = bench.ui();
    EXPECT_EQ(bench.form().statusText(), bench.form().textMonitorOnly);
    EXPECT_TRUE(ui.UPSMessage->toPlainText().contains(bench.form().textMonitorOnly));
    for (QWidget* group : std::initializer_list<QWidget*>{ui.GroupBox1, ui.GroupBox4, ui.GroupBox5,
                                                          ui.GroupBox21, ui.Panel4})
        EXPECT_FALSE(group->isEnabled()) << group->objectName().toStdString();
}

TEST(Connection, SecondGenerationVariantsEnableTheirControls) {
    struct Row {
        const char* profile;
        bool v2;     // variant 2: everything
        bool v1or2;  // variant 1 or 2: the setting steps and two texts
    };
    for (const Row& row :
         {Row{"gen2-v0", false, false}, Row{"gen2-v1", false, true}, Row{"gen2-v2", true, true}}) {
        EngineBench bench(row.profile);
        bench.connectUnit();
        Ui::TForm1& ui = bench.ui();
        QWidget* form = &bench.form();
        for (QWidget* c : std::initializer_list<QWidget*>{
                 ui.ModelConst, ui.Const52nd, ui.Const62nd, ui.Const02nd, ui.Bat2ndMinus,
                 ui.SerialNumber, ui.ManufactureDate, ui.Load2ndMinus, ui.InputVoltage2ndMinus})
            EXPECT_EQ(c->isEnabled(), row.v2)
                << row.profile << " " << c->objectName().toStdString();
        for (QWidget* c : std::initializer_list<QWidget*>{ui.BatSmart2nd, ui.LoadSmart2nd,
                                                          ui.InputVoltageConstantSmart2nd})
            EXPECT_EQ(c->isVisibleTo(form), row.v2)
                << row.profile << " " << c->objectName().toStdString();
        for (QWidget* c : std::initializer_list<QWidget*>{
                 ui.BatteriesReplaseDate, ui.ID, ui.UpVoltageChange2nd, ui.LowVoltageChange2nd,
                 ui.OutVoltageChange2nd, ui.ThresholdChange, ui.ShutDownDelayChange,
                 ui.WakeUpDelayChange, ui.SelfTestChange, ui.SensitivityChange, ui.AlarmDelayChange,
                 ui.ResetAll, ui.LowBatWarningChange})
            EXPECT_EQ(c->isEnabled(), row.v1or2)
                << row.profile << " " << c->objectName().toStdString();
        ASSERT_TRUE(bench.atRefresh([&] {
            const APCUPS& ups = *bench.form().ups;
            EXPECT_EQ(ui.InputVoltage2nd->text().toStdString(), ups.inputVoltageText.str());
            EXPECT_EQ(ui.LoadW2nd->text().toStdString(), ups.loadWattsText.str());
            EXPECT_EQ(ui.RunTime2ndBar->value(), ups.runTimeMinutes);
            EXPECT_EQ(ui.BatteryVoltage2nd->text().toStdString(), ups.batteryVoltageText.str());
        })) << row.profile;
        EXPECT_EQ(ui.SerialNumber->maxLength(), 8);
        EXPECT_FALSE(ui.ByPass->isEnabled());
        EXPECT_FALSE(ui.ModelPlus->isEnabled());
    }
}

TEST(Connection, BackUpsProOfOneThousandVaKeepsItsCalibrationSetDisabled) {
    const char* const set[] = {
        "Ratio",          "EUTVoltage",        "FloatBackPro",      "CapasitorLoad",
        "DCOffset",       "RatioMinus",        "RatioPlus",         "EUTVoltageMinus",
        "EUTVoltagePlus", "FloatBackProMinus", "FloatBackProPlus",  "DCOffsetMinus",
        "DCOffsetPlus",   "CapasitorLoadPlus", "CapasitorLoadMinus"};
    const char* const fields[] = {"Ratio", "EUTVoltage", "FloatBackPro", "CapasitorLoad",
                                  "DCOffset"};
    // Both sides of the rule: three digits of rating, and four.
    for (const char* name : {"Back-UPS Pro 650", "Back-UPS Pro 1000"}) {
        SCOPED_TRACE(name);
        const bool large = std::string(name).find("1000") != std::string::npos;
        auto bench = std::make_unique<EngineBench>("backpro");
        sim::Profile profile = *sim::FindProfile("backpro");
        profile.models[profile.modelIndex].name = name;
        sim::SimUps unit(bench->clock(), profile);
        unit.attach(bench->line());
        bench->connectUnit();
        TForm1& form = bench->form();
        Ui::TForm1& ui = bench->ui();
        EXPECT_EQ(form.ups->ratingDigits, large ? 4 : 3);
        // As connected, and after a display refresh of the Back-PRO page.
        const auto check = [&] {
            for (const char* control : set)
                EXPECT_EQ(form.control<QWidget>(control)->isEnabled(), !large) << control;
            for (const char* field : fields)
                EXPECT_EQ(form.control<QLineEdit>(field)->text().isEmpty(), large) << field;
        };
        check();
        ASSERT_TRUE(bench->atRefresh(check));
        EXPECT_TRUE(ui.ModelPlus->isEnabled());
        EXPECT_FALSE(ui.Test->isEnabled());
        EXPECT_FALSE(ui.ID->isEnabled());
        bench.reset();  // the window closes while the unit still answers
    }
}

TEST(Connection, ClosingWithThePortOpenButNoThreadSendsNothing) {
    EngineBench bench("su1000");
    bench.unit().unplug();
    bench.connectUnit();
    ASSERT_EQ(bench.form().worker, nullptr);
    ASSERT_TRUE(bench.form().ups->PortHandleValid());
    const std::size_t sent = bench.unit().log().size();
    bench.form().close();
    ASSERT_TRUE(EngineBench::waitFor([&] { return bench.formGone(); }));
    EXPECT_EQ(bench.unit().log().size(), sent) << "no R to a unit that never answered";
}

TEST(Connection, PortThatWillNotOpenShowsTheErrorBox) {
    EngineBench bench("su1000");
    bench.line().setOpenableNames({"COM2"});
    bench.connectUnit();
    ASSERT_EQ(bench.errors().size(), 1u);
    EXPECT_EQ(bench.errors()[0], bench.form().textPortOpenFailed);
    EXPECT_EQ(bench.form().worker, nullptr);
    EXPECT_TRUE(bench.ui().PageControl1->isHidden());
}

TEST(Connection, SilentUnitLeavesThePortOpenAndSaysSo) {
    EngineBench bench("su1000");
    bench.unit().unplug();
    bench.connectUnit();
    EXPECT_EQ(bench.form().statusText(), bench.form().textNoConnection);
    EXPECT_EQ(bench.form().worker, nullptr);
    EXPECT_TRUE(bench.form().ups->PortHandleValid());
    EXPECT_TRUE(bench.ui().ComboBox1->isEnabled());
    // The next choice closes it, waits half a second and opens again.
    bench.unit().plug();
    const Micros before = bench.clock().now();
    bench.connectUnit();
    // One release inside each open, and the close of the change itself.
    EXPECT_EQ(bench.line().closeCount(), 3);
    EXPECT_GE(bench.clock().now() - before, Millis(500));
    EXPECT_NE(bench.form().worker, nullptr);
}

TEST(Options, SelfTestIsSwitchedOffOnASmartUnit) {
    EngineBench bench("su1000");
    bench.ui().SelfTestON1->setChecked(true);
    bench.connectUnit();
    EXPECT_EQ(bench.form().ups->selfTestIntervalText.str(), "OFF");
    EXPECT_EQ(bench.ui().SelfTest->text(), QStringLiteral("OFF"));
    ASSERT_TRUE(bench.atRefresh([&] {
        const std::string wire = bench.takeCommands();
        EXPECT_EQ(wire.find('Z'), std::string::npos) << "no restart for a first-generation unit";
        EXPECT_EQ(std::count(wire.begin(), wire.end(), 1), 2) << "identified once";
    }));
}

TEST(Options, SecondGenerationUnitIsRestartedOnceAndIdentifiedAgain) {
    // A unit that stores its interval only seconds after the step comes back from the restart
    // with the interval it had: it is not stepped or restarted again, and polling begins.
    const struct {
        const char* profile;
        const char* interval;
        bool noted;
    } rows[] = {{"gen2-v2", "OFF", false}, {"gen2-late", "336", true}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.profile);
        EngineBench bench(row.profile);
        bench.ui().SelfTestON1->setChecked(true);
        bench.ui().HexCodeON->setChecked(true);
        bench.connectUnit();
        EXPECT_EQ(bench.form().ups->selfTestIntervalText.str(), row.interval);
        EXPECT_EQ(bench.unit().model().setting('E'), row.interval);
        EXPECT_EQ(bench.ui().SelfTest->text().toStdString(), row.interval);
        EXPECT_EQ(bench.form().statusText(),
                  row.noted ? QStringLiteral("Self test could not be switched off.")
                            : bench.form().textConnected);
        ASSERT_NE(bench.form().worker, nullptr);
        ASSERT_TRUE(bench.atRefresh([&] {
            const std::string wire = bench.takeCommands();
            EXPECT_EQ(std::count(wire.begin(), wire.end(), 'Z'), 2) << "one restart";
            EXPECT_EQ(std::count(wire.begin(), wire.end(), '\r'), 2) << "two identifications";
            EXPECT_EQ(std::count(wire.begin(), wire.end(), '-'), 3) << "steps before it only";
        }));
        // The outer call had stepped the interval, so no model-code request was posted.
        EXPECT_TRUE(bench.form().requestQueue->IsEmpty());
    }
}

TEST(Options, SecondGenerationUnitThatNeverReadsOffIsNotRestartedAndKeepsItsInterval) {
    // Restarting would identify it again and step it again: a unit whose interval does not
    // read "OFF" gets no "Z" pair and is connected as it is, its other options included (a
    // variant-2 unit is asked for its next model code, as no restart did it). A unit whose
    // interval comes round again without "OFF" is left there; one that does not answer "E"
    // gets no step at all.
    const struct {
        const char* profile;
        const char* interval;
        bool modelCodeAsked;
        int eSent;
        int minusSent;
        const char* status;
    } rows[] = {
        {"gen2-test-on", "336", false, 1 + 3 + 3, 3,
         "Self test could not be switched off: the UPS offers no \"OFF\". Its interval is "
         "336 as before."},
        {"gen2-no-e", "", true, 1, 0,
         "Self test could not be switched off: the UPS does not report its self-test "
         "interval."},
    };
    for (const auto& row : rows) {
        EngineBench bench(row.profile);
        bench.ui().SelfTestON1->setChecked(true);
        bench.ui().HexCodeON->setChecked(true);
        bench.connectUnit();
        EXPECT_EQ(bench.ui().ModelConst->text().size(), row.modelCodeAsked ? 2 : 0) << row.profile;
        EXPECT_EQ(bench.form().statusText(), QString::fromUtf8(row.status)) << row.profile;
        EXPECT_EQ(bench.form().ups->selfTestIntervalText.str(), row.interval) << row.profile;
        EXPECT_EQ(bench.unit().model().setting('E'), row.interval) << row.profile;
        EXPECT_EQ(bench.ui().PageControl1->currentWidget(), bench.ui().TabSheet3) << row.profile;
        ASSERT_NE(bench.form().worker, nullptr) << row.profile;
        ASSERT_TRUE(bench.atRefresh([&] {
            const std::string wire = bench.takeCommands();
            EXPECT_EQ(wire.find('Z'), std::string::npos) << row.profile;
            EXPECT_EQ(std::count(wire.begin(), wire.end(), '\r'), 1)
                << row.profile << ": identified once";
            EXPECT_EQ(std::count(wire.begin(), wire.end(), 'E'), row.eSent) << row.profile;
            EXPECT_EQ(std::count(wire.begin(), wire.end(), '-'), row.minusSent) << row.profile;
        })) << row.profile;
    }
}

TEST(Options, HexCodeDetectionOnSecondGenerationPostsTheNextCode) {
    EngineBench bench("gen2-v2");
    bench.ui().HexCodeON->setChecked(true);
    bench.connectUnit();
    const std::string code = bench.form().ups->modelCode2ndText.str();
    ASSERT_EQ(code.size(), 2u);
    const int next = (std::stoi(code, nullptr, 16) + 1) & 0xFF;
    char expected[3];
    std::snprintf(expected, sizeof expected, "%02X", next);
    EXPECT_EQ(bench.ui().ModelConst->text(), QString::fromLatin1(expected));
    // The poll thread asks "H" until the unit reports that code, then flashes the entry.
    ASSERT_TRUE(EngineBench::waitFor([&] { return bench.tone().beeps == 1; }));
    ASSERT_TRUE(
        bench.atRefresh([&] { EXPECT_EQ(bench.form().ups->modelCode2ndText.str(), expected); }));
    EXPECT_EQ(bench.ui().ModelConst->text(), QString::fromLatin1(expected));
}

TEST(Options, BatteryConstantIsWrittenAndTuned) {
    EngineBench bench("su1000");
    bench.ui().AUTO1->setChecked(true);
    bench.connectUnit();
    EXPECT_EQ(bench.ui().Const0->text(), QStringLiteral("A0"));
    ASSERT_TRUE(EngineBench::waitFor([&] { return bench.tone().beeps == 1; }));
    ASSERT_TRUE(bench.atRefresh([&] {
        EXPECT_EQ(bench.form().ups->const0Text.str(), "A0");
        EXPECT_TRUE(bench.form().requestQueue->IsEmpty());
    }));
}

TEST(Polling, StatusPageReadsOnlyTheRegisters) {
    EngineBench bench("su1000");
    bench.connectUnit();
    Ui::TForm1& ui = bench.ui();
    // A page chosen during a refresh applies from the next pass's read on: only the registers
    // on the status page, the measurements elsewhere.
    std::string afterChange, statusPass, backChange, measurePass;
    ASSERT_TRUE(bench.atRefreshes({
        [&] {
            bench.takeCommands();
            ui.PageControl1->setCurrentWidget(ui.TabSheet6);
        },
        [&] { afterChange = bench.takeCommands(); },
        [&] { statusPass = bench.takeCommands(); },
        [&] {
            bench.takeCommands();
            ui.PageControl1->setCurrentWidget(ui.TabSheet1);
        },
        [&] { backChange = bench.takeCommands(); },
        [&] { measurePass = bench.takeCommands(); },
    }));
    EXPECT_EQ(afterChange, "Y~'8Q");
    EXPECT_EQ(statusPass, "Y~'8Q");
    EXPECT_EQ(backChange, "YOLPCFjfBB");
    EXPECT_EQ(measurePass, "YOLPCFjfBB");
    EXPECT_TRUE(ui.CheckBox28->isChecked()) << "on line";
    EXPECT_TRUE(ui.CheckBox28->isEnabled());
    EXPECT_FALSE(ui.CheckBox29->isChecked()) << "not on battery";
    EXPECT_FALSE(ui.CheckBox29->isEnabled());
}

TEST(Polling, LiveValuesAndChartsFollowTheUnit) {
    EngineBench bench("su1000");
    bench.connectUnit();
    Ui::TForm1& ui = bench.ui();
    ASSERT_TRUE(bench.atRefresh([&] { bench.unit().powerFail(); }));
    ASSERT_TRUE(bench.atRefresh([] {}));
    ASSERT_TRUE(bench.atRefresh([&] {
        const APCUPS& ups = *bench.form().ups;
        EXPECT_EQ(ui.InputVoltage->text().toStdString(), ups.inputVoltageText.str());
        EXPECT_EQ(ui.BatteryCharged->text().toStdString(), ups.batteryCapacityText.str());
        EXPECT_EQ(ui.RunTime->text().toStdString(), ups.runTimeText.str());
        EXPECT_EQ(ui.LoadW->text().toStdString(), ups.loadWattsText.str());
        EXPECT_LT(ups.inputVoltage, 100.0f) << "the line is gone";
    }));
}

TEST(Polling, RequestPostedBeforeTheThreadStartsIsHandledFirstUnknownCodesAreDropped) {
    EngineBench bench("su1000");
    bench.form().requestQueue->Push('?', '-');
    // Enter in the battery constant's field, holding the value the connection shows there.
    char shown[3];
    std::snprintf(shown, sizeof shown, "%02X", *bench.unit().model().constant('0'));
    bench.form().requestQueue->Push('l', '-', shown);
    bench.connectUnit();
    ASSERT_TRUE(EngineBench::waitFor([&] { return bench.tone().beeps == 1; }));
    ASSERT_TRUE(bench.atRefresh([&] {
        EXPECT_TRUE(bench.form().requestQueue->IsEmpty());
        const std::string wire = bench.takeCommands();
        // After identification: one measurement pass, then the walk of constant "0".
        const std::size_t pass = wire.find("OLPCFjfB");
        ASSERT_NE(pass, std::string::npos);
        EXPECT_EQ(wire.substr(pass + 8, 2), "0+") << "the constant is selected, then stepped";
    }));
}

TEST(LostConnection, UnpluggedUnitPutsTheWindowBackAndReconnectWorks) {
    EngineBench bench("su1000");
    bench.connectUnit();
    Ui::TForm1& ui = bench.ui();
    ASSERT_TRUE(bench.atRefresh([&] {
        bench.unit().unplug();
        PostRequest(bench.form(), 'l', '-');
    }));
    ASSERT_TRUE(EngineBench::waitFor([&] { return bench.form().workerEnded == 1; }));
    EXPECT_EQ(bench.form().statusText(), bench.form().textNoConnection);
    EXPECT_TRUE(ui.PageControl1->isHidden());
    EXPECT_TRUE(ui.GroupBox7->isHidden());
    EXPECT_FALSE(ui.GroupBox7->isEnabled());
    EXPECT_TRUE(ui.ComboBox1->isEnabled());
    EXPECT_TRUE(ui.Reconnect->isEnabled());
    EXPECT_FALSE(ui.Leds->isEnabled());
    EXPECT_EQ(ui.Memo1->palette().color(QPalette::Text), QColor(255, 0, 0));
    EXPECT_TRUE(bench.form().requestQueue->IsEmpty());
    EXPECT_FALSE(bench.form().ups->smartModeOk);
    EXPECT_TRUE(bench.form().ups->PortHandleValid()) << "the port stays open";

    bench.unit().plug();
    bench.form().ReconnectClick();
    EXPECT_EQ(bench.form().statusText(), bench.form().textConnected);
    EXPECT_FALSE(ui.PageControl1->isHidden());
    EXPECT_EQ(ui.Memo1->palette().color(QPalette::Text), QColor(0, 0, 0));
    EXPECT_EQ(bench.form().workerEnded, 0);
    ASSERT_TRUE(bench.atRefresh([] {}));
}

TEST(LostConnection, ReconnectRightAfterTheLossDoesNotLeaveTwoThreads) {
    EngineBench bench("su1000");
    bench.connectUnit();
    QPointer<APCDynamicData> old = bench.form().worker;
    ASSERT_TRUE(bench.atRefresh([&] { bench.unit().unplug(); }));
    // Reconnect as soon as the buttons come back, usually before the old thread's end has
    // been handled.
    ASSERT_TRUE(EngineBench::waitFor([&] { return bench.ui().Reconnect->isEnabled(); }));
    bench.unit().plug();
    bench.form().ReconnectClick();
    ASSERT_NE(bench.form().worker, nullptr);
    EXPECT_NE(bench.form().worker, old.data());
    EXPECT_EQ(bench.form().workerEnded, 0);
    ASSERT_TRUE(EngineBench::waitFor([&] { return old.isNull(); }));
    EXPECT_EQ(bench.form().workerEnded, 0) << "the old thread's end does not mark the new one";
    ASSERT_TRUE(bench.atRefresh([] {}));
}

TEST(Close, WhileConnectedTheUnitLeavesSmartModeAndThePortCloses) {
    auto bench = std::make_unique<EngineBench>("su1000");
    bench->connectUnit();
    ASSERT_TRUE(bench->atRefresh([] {}));
    const QString settings = bench->settingsFile();
    bench->form().close();
    EXPECT_FALSE(bench->formGone()) << "the first close only asks the thread to stop";
    EXPECT_EQ(bench->form().Tag, 1);
    ASSERT_TRUE(EngineBench::waitFor([&] { return bench->formGone(); }));
    const auto& log = bench->unit().log();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back().command, 'R');
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log[log.size() - 2].command, 'Y') << "R follows the link check of the last pass";
    QSettings store(settings, QSettings::IniFormat);
    for (const char* key : {"Left", "Top", "AUTOSU3Gen", "SelfTest", "HexCode", "Graphics"})
        EXPECT_TRUE(store.contains(QLatin1String(key))) << key;
}

}  // namespace
}  // namespace morlen::test
