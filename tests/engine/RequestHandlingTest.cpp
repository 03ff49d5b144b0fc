// What each request does on the poll thread: the bytes the simulated unit receives, what the
// window shows afterwards and which confirmation it gives.
//
// Requests are posted at one display refresh and looked at in the next, after the pass that
// carried them out. Most run with the "Status" page shown: the refresh then fills only the
// status boxes, so every entry seen has been written by the request itself.
#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QTest>
#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "EngineBench.h"
#include "Profile.h"
#include "RecordingView.h"
#include "RequestHandling.h"
#include "WireRig.h"

namespace morlen::test {
namespace {

using Requests = std::vector<std::pair<char, char>>;

const QColor kRed(255, 0, 0);
const QColor kBlack(0, 0, 0);

QColor fontOf(const QWidget* control) {
    return control->palette().color(QPalette::Active, QPalette::WindowText);
}

std::string text(const QLineEdit* entry) {
    return entry->text().toStdString();
}

// The real window on a simulated unit whose readings hold still, so that every step lands on a
// known value. A changed profile gets a unit of its own on the bench's line.
class Rig {
public:
    explicit Rig(const std::string& profile,
                 const std::function<void(sim::Profile&)>& change = nullptr)
        : bench_(std::make_unique<EngineBench>(profile)) {
        if (change) {
            sim::Profile changed = *sim::FindProfile(profile);
            change(changed);
            own_ = std::make_unique<sim::SimUps>(bench_->clock(), changed);
            own_->attach(bench_->line());
        }
        unit().model().setDrift(false);
        bench_->connectUnit();
    }
    ~Rig() { bench_.reset(); }  // the window closes while the unit still answers

    EngineBench& bench() { return *bench_; }
    sim::SimUps& unit() { return own_ ? *own_ : bench_->unit(); }
    TForm1& form() { return bench_->form(); }
    Ui::TForm1& ui() { return bench_->ui(); }
    int beeps() { return bench_->tone().beeps; }
    Micros now() { return bench_->clock().now(); }

    // Shows the "Status" page, runs `prepare` and posts `requests` at one refresh, and returns
    // the command bytes of the pass that carried them out, without the pass's own reads;
    // `look` runs at the refresh after that pass.
    std::string statusPass(const Requests& requests, const std::function<void()>& look = nullptr,
                           const std::function<void()>& prepare = nullptr) {
        std::size_t from = 0;
        std::size_t to = 0;
        const bool refreshed = bench_->atRefreshes({
            [&] {
                ui().PageControl1->setCurrentWidget(ui().TabSheet6);
                if (prepare)
                    prepare();
                from = unit().log().size();
                for (const auto& [code, argument] : requests)
                    PostRequest(form(), code, argument);
            },
            [&] {
                to = unit().log().size();
                if (look)
                    look();
            },
        });
        EXPECT_TRUE(refreshed);
        std::string wire;
        for (std::size_t i = from; i < to; ++i)
            wire.push_back(static_cast<char>(unit().log()[i].command));
        // The link check of the pass before, then the four registers.
        const std::string reads = "Y~'8Q";
        EXPECT_EQ(wire.substr(0, reads.size()), reads) << wire;
        return wire.size() >= reads.size() ? wire.substr(reads.size()) : wire;
    }

private:
    std::unique_ptr<EngineBench> bench_;
    std::unique_ptr<sim::SimUps> own_;
};

std::string repeat(const std::string& part, int times) {
    std::string out;
    for (int i = 0; i < times; ++i)
        out += part;
    return out;
}

const QString kMark = QStringLiteral("#");

// ---- What the window shows ----

TEST(Display, BarsShowAReadingOutsideTheirRangeAtTheNearestEnd) {
    // A progress bar ignores a value outside its range and would keep a stale position.
    Rig rig("su1000", [](sim::Profile& p) {
        p.loadPercent = 135.0;   // load bars end at 130
        p.runTimeFull = 4000.0;  // run-time bars end at 500
    });
    Ui::TForm1& ui = rig.ui();
    ASSERT_TRUE(rig.bench().atRefresh([&] {
        EXPECT_EQ(ui.LoadBar->value(), ui.LoadBar->maximum());
        EXPECT_EQ(ui.RunTimeBar->value(), ui.RunTimeBar->maximum());
        EXPECT_GT(rig.form().ups->loadPercent, 130.0f);
        EXPECT_GT(rig.form().ups->runTimeMinutes, 500);
    }));
    // The load step shows its reading on the same bar.
    rig.statusPass(
        {{'2', '+'}}, [&] { EXPECT_EQ(ui.LoadBar->value(), 130); },
        [&] { ui.LoadBar->setValue(7); });
}

TEST(Display, EachFamilysPageShowsItsReadingsAndTheChartsGetTheirPoint) {
    // The pass's reads, then what its refresh shows. A first-generation page reads its battery
    // voltage in the refresh; a Back-UPS CS has no charts; the "Status" page shows only the
    // registers.
    const struct {
        const char* profile;
        bool statusPage;
        std::string log;
    } rows[] = {
        {"su1000", false,
         "O/5 L/5 P/5 C/5 F/5 j/4 f/5 B/5 LineFrequency=50.00 RunTime=44 RunTimeBar:44 "
         "BatteryCharged=100.0 BatteryChargedBar:100 LoadPercent=023.5 LoadW=164 LoadBar:23.5 "
         "InputVoltage=230.0 InputVoltageBar:230 OutputVoltage=230.0 OutputVoltageBar:230 "
         "B/5 BatteryVoltageSmart=27.30 Temperature=036.0 chart 230 100.0 44 23.5 230"},
        // The output apart from the input: a chart point with the two swapped shows.
        {"su620", false,
         "O/5 L/5 P/5 C/5 F/5 j/4 f/5 B/5 LineFrequency=50.00 RunTime=19 RunTimeBar:19 "
         "BatteryCharged=100.0 BatteryChargedBar:100 LoadPercent=031.0 LoadW=134 LoadBar:31 "
         "InputVoltage=230.0 InputVoltageBar:230 OutputVoltage=228.0 OutputVoltageBar:228 "
         "B/5 BatteryVoltageSmart=13.65 chart 230 100.0 19 31 228"},
        {"su1000", true, "~/2 '/2 8/2 Q/2 registers 1 2 4 8"},
        {"noserial", false,
         "O/5 L/5 F/5 B/5 LineFrequency=50.00 InputVoltage=230.0 InputVoltageBar:230 "
         "OutputVoltage=230.0 OutputVoltageBar:230 B/5 BatteryVoltageSmart=27.30 "
         "chart 230 100.0 18 0 230"},
        {"backpro", false,
         "O/5 L/5 P/5 e/5 w/5 v/5 c/5 d/5 B/5 FloatBackPro=13.65 Ratio=1.015 EUTVoltage=10.50 "
         "CapasitorLoad=045.0 DCOffset=002.5 BatteryVoltagePRO=13.65 BBDVoltage=11.40 "
         "LoadPercentBackPro=031.0 LoadWBackPro=141 LoadBackProBar:31 "
         "InputVoltageBackPro=230.0 InputVoltageBackProBar:230 OutputVoltageBackPro=230.0 "
         "OutputVoltageBackProBar:230 chart 230  0 31 230"},
        {"gen2-v2", false,
         "O/5 L/5 P/5 C/5 F/5 j/4 f/5 B/5 LineFrequency=50.00 BatteryVoltage2nd=27.30 "
         "RunTime2nd=44 RunTime2ndBar:44 BatteryCharged2nd=100.0 BatteryCharged2ndBar:100 "
         "LoadPercent2nd=023.5 LoadW2nd=205 Load2ndBar:23.5 InputVoltage2nd=230.0 "
         "InputVoltage2ndBar:230 OutputVoltage2nd=230.0 OutputVoltage2ndBar:230 "
         "Temperature=NA chart 230 100.0 44 23.5 230"},
        {"backcs", false, "B/5 BackCSVoltage=13.65"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.profile) + (row.statusPage ? " status" : ""));
        ViewRig rig(row.profile, [](sim::Profile& p) {
            if (p.name == "su620")
                p.outputVoltage = 228.0;
        });
        rig.view().statusPage = row.statusPage;
        // Each register its own bit, so a swap of two shows.
        rig.unit().replaceReplyTo('~', "01\r\n");
        rig.unit().replaceReplyTo('\'', "02\r\n");
        rig.unit().replaceReplyTo('8', "04\r\n");
        EXPECT_EQ(rig.pass(), row.log);
        EXPECT_EQ(rig.view().refreshes, 1);
    }
}

TEST(Display, AnUnidentifiedUnitIsPolledForItsMeasurements) {
    // A unit that answers the programming-mode request with something else stays unidentified:
    // its page stays hidden, the "Smart-UPS" page stays the active one, so it is polled for
    // measurements and not for the status registers, whatever page the hidden tabs leave in
    // front.
    Rig rig("su1000", [](sim::Profile& p) { p.progReply = "BUSY"; });
    TForm1& form = rig.form();
    ASSERT_EQ(form.ups->family, FamilyUnknown);
    EXPECT_EQ(form.activePage(), rig.ui().TabSheet1);
    std::size_t from = 0;
    std::string pass;
    ASSERT_TRUE(rig.bench().atRefreshes({
        [&] { from = rig.unit().log().size(); },
        [&] {
            for (std::size_t i = from; i < rig.unit().log().size(); ++i)
                pass.push_back(static_cast<char>(rig.unit().log()[i].command));
        },
    }));
    EXPECT_EQ(pass, "YOLPCFjfB") << "the link check, then the measurements";
}

// ---- Step requests ----

TEST(StepRequests, SmartUnitMetersAndBatteryPacks) {
    // A step is confirmed by its value alone: no flash, no tone.
    const struct {
        Request request;
        char sign;
        std::string log;
    } rows[] = {
        // 7 W a percent on a 1000 VA unit.
        {Request::LoadStep, '+', "P/5 +/5 P/5 LoadPercent=024.0 LoadW=168 LoadBar:24"},
        {Request::LoadStep, '-', "P/5 -/5 P/5 LoadPercent=023.0 LoadW=161 LoadBar:23"},
        {Request::InputStep, '+',
         "L/5 +/5 L/5 O/5 InputVoltage=231.0 InputVoltageBar:231 OutputVoltage=230.0 "
         "OutputVoltageBar:230"},
        {Request::InputStep, '-',
         "L/5 -/5 L/5 O/5 InputVoltage=229.0 InputVoltageBar:229 OutputVoltage=230.0 "
         "OutputVoltageBar:230"},
        {Request::BatteryVoltageStep, '-', "B/5 -/2 B/5 BatteryVoltageSmart=27.15"},
        {Request::BatteryVoltageStep, '+', "B/5 +/2 B/5 BatteryVoltageSmart=27.45"},
        {Request::BatteryPacksStep, '+', ">/3 +/3 >/3 BatteryPacks=001"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(1, char(row.request)) + row.sign);
        EXPECT_EQ(ViewRig("su1000").handle(row.request, row.sign), row.log);
    }
}

TEST(StepRequests, LoadIsRedFromOneHundredPercentAndBlackBelow) {
    struct Row {
        double load;  // the unit's true load
        char sign;
        std::string shown;
        QColor before, after;
    };
    const Row rows[] = {
        {99.5, '+', "100.0", kBlack, kRed},
        {100.4, '-', "099.9", kRed, kBlack},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.shown);
        Rig rig("su1000", [&](sim::Profile& p) { p.loadPercent = row.load; });
        Ui::TForm1& ui = rig.ui();
        QWidget* captions[] = {ui.LoadPercent, ui.LoadW, rig.form().labelOf(ui.LoadPercent),
                               rig.form().labelOf(ui.LoadW)};
        for (QWidget* caption : captions)
            ASSERT_NE(caption, nullptr);
        // The refresh of the family page colours the load too; on the "Status" page only the
        // request does.
        ASSERT_TRUE(rig.bench().atRefresh([&] {
            for (QWidget* caption : captions)
                EXPECT_EQ(fontOf(caption), row.before) << caption->objectName().toStdString();
        }));
        EXPECT_EQ(rig.statusPass({{'2', row.sign}},
                                 [&] {
                                     EXPECT_EQ(text(ui.LoadPercent), row.shown);
                                     for (QWidget* caption : captions)
                                         EXPECT_EQ(fontOf(caption), row.after)
                                             << caption->objectName().toStdString();
                                 }),
                  std::string("P") + row.sign + "P");
    }
}

TEST(StepRequests, ModelCodeStepReadsWhatFollowsTheCode) {
    Rig rig("su1000");
    Ui::TForm1& ui = rig.ui();
    const std::string wire = rig.statusPass({{'1', '+'}}, [&] {
        EXPECT_EQ(text(ui.Model), "SMART-UPS 420");
        EXPECT_EQ(text(ui.Firmware), "21.7.I");
        EXPECT_EQ(text(ui.ModelConst), "16");
        EXPECT_EQ(text(ui.BatSysVolt), "024");
        EXPECT_EQ(text(ui.UpTransferVoltage), "253");
        EXPECT_EQ(text(ui.LowTransferVoltage), "208");
        EXPECT_EQ(text(ui.OutputVoltageConstant), "230");
    });
    EXPECT_EQ(rig.unit().model().modelCode(), 0x16);
    // The step and the firmware first; the battery system and the three voltages last.
    ASSERT_GE(wire.size(), 7u);
    EXPECT_EQ(wire.substr(0, 3), "b+b");
    EXPECT_EQ(wire.substr(wire.size() - 4), "gulo");
}

TEST(StepRequests, ModelCodeStepOnABackUpsProLeavesTheVoltagesAlone) {
    Rig rig("backpro");
    Ui::TForm1& ui = rig.ui();
    const auto voltages = {ui.UpTransferVoltage, ui.LowTransferVoltage, ui.OutputVoltageConstant};
    const std::string wire = rig.statusPass(
        {{'1', '+'}},
        [&] {
            EXPECT_EQ(text(ui.Model), "Back-UPS Pro 500");
            EXPECT_EQ(text(ui.Firmware), "17.1.I");
            EXPECT_EQ(text(ui.ModelConst), "26");
            EXPECT_EQ(text(ui.BatSysVolt), "012");
            for (QLineEdit* entry : voltages)
                EXPECT_EQ(entry->text(), kMark) << entry->objectName().toStdString();
        },
        [&] {
            for (QLineEdit* entry : voltages)
                entry->setText(kMark);
        });
    EXPECT_EQ(wire.find_first_of("ulo"), std::string::npos) << wire;
    EXPECT_EQ(wire.back(), 'g');
}

TEST(StepRequests, ThirdGenerationModelStepShowsTheNewFirmwareHead) {
    Rig rig("su1000-3g");
    Ui::TForm1& ui = rig.ui();
    QLabel* caption = rig.form().labelOf(ui.SU36G);
    ASSERT_NE(caption, nullptr);
    const std::string wire = rig.statusPass({{'1', '+'}}, [&] {
        EXPECT_EQ(text(ui.Model), "Smart-UPS 1500");
        EXPECT_EQ(text(ui.SU36G), "653");
        EXPECT_EQ(caption->text().toStdString(), ".12.I");
        EXPECT_EQ(text(ui.ModelConst), "0E");
    });
    EXPECT_EQ(wire.substr(0, 2), std::string("\x02+"));
}

TEST(StepRequests, BackUpsProValuesAreSteppedAndLeftToTheRefresh) {
    // Nothing is shown: the log is the line's alone.
    const struct {
        Request request;
        char sign;
        std::string log;
        const char* (*value)(const APCUPS&);
        std::string stepped;
    } rows[] = {
        {Request::RatioStep, '+', "w/5 +/2 w/5", UnitText<&APCUPS::ratioText>, "1.020"},
        // "B" steps the way it was posted.
        {Request::BbdVoltageStep, '-', "2/5 -/2 2/5", UnitText<&APCUPS::bbdVoltageText>, "11.35"},
        {Request::BbdVoltageStep, '+', "2/5 +/2 2/5", UnitText<&APCUPS::bbdVoltageText>, "11.45"},
        {Request::EutVoltageStep, '+', "v/5 +/2 v/5", UnitText<&APCUPS::eutVoltageText>, "10.55"},
        {Request::BatteryBackProStep, '-', "B/5 -/2 B/5", UnitText<&APCUPS::batteryVoltageText>,
         "13.50"},
        {Request::FloatStep, '-', "e/5 -/2 e/5", UnitText<&APCUPS::floatVoltageText>, "13.60"},
        {Request::DcOffsetStep, '+', "d/5 +/2 d/5", UnitText<&APCUPS::dcOffsetText>, "002.6"},
        {Request::CapacitorLoadStep, '-', "c/5 -/2 c/5", UnitText<&APCUPS::capacitorLoadText>,
         "044.5"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(1, char(row.request)) + row.sign);
        ViewRig rig("backpro");
        EXPECT_EQ(rig.handle(row.request, row.sign), row.log);
        EXPECT_EQ(row.value(rig.ups()), row.stepped);
    }
}

TEST(StepRequests, SecondGenerationStepsGoTheUnitsOwnWayWithATone) {
    const struct {
        Request request;
        char sign;
        std::string log;
    } rows[] = {
        // 8.75 W a percent on a 1250 VA unit.
        {Request::Load2ndStep, '-',
         "b/2 P/5 LoadPercent2nd=023.0 LoadW2nd=201 Load2ndBar:23 " + kTone},
        {Request::Input2ndStep, '-',
         "a/2 L/5 O/5 InputVoltage2nd=229.0 InputVoltage2ndBar:229 OutputVoltage2nd=230.0 "
         "OutputVoltage2ndBar:230 " +
             kTone},
        // The argument says up; the unit steps down all the same, and the value flashes.
        {Request::Battery2ndStep, '+',
         "d/2 B/5 BatteryVoltage2nd=27.15 flash BatteryVoltage2nd on " + kTone +
             " ~500 flash BatteryVoltage2nd off"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(1, char(row.request)) + row.sign);
        EXPECT_EQ(ViewRig("gen2-v2").handle(row.request, row.sign), row.log);
    }
}

// ---- "Change" buttons ----

TEST(ChangeRequests, EachMovesItsSettingToTheNextValueAndShowsIt) {
    const struct {
        const char* profile;
        Request request;
        std::string log;
    } rows[] = {
        {"su1000", Request::UpVoltageChange, "u/3 -/2 u/3 UpTransferVoltage=257"},
        {"su1000", Request::LowVoltageChange, "l/3 -/2 l/3 LowTransferVoltage=204"},
        {"su1000", Request::OutVoltageChange, "o/3 -/2 o/3 OutputVoltageConstant=240"},
        {"su1000", Request::ThresholdChange, "e/2 -/2 e/2 Threshold=15"},
        {"su1000", Request::LowBatWarningChange, "q/2 -/2 q/2 LowBatWarning=05"},
        {"su1000", Request::ShutDownDelayChange, "p/3 -/2 p/3 ShutDownDelay=180"},
        {"su1000", Request::WakeUpDelayChange, "r/3 -/2 r/3 WakeUpDelay=060"},
        {"su1000", Request::SelfTestChange, "E/3 -/2 E/3 SelfTest=168"},
        {"su1000", Request::SensitivityChange, "s/1 -/1 s/1 Sensitivity= Medium"},
        {"su1000", Request::AlarmDelayChange, "k/1 -/1 k/1 AlarmDelay=30 Seconds"},
        {"gen2-v2", Request::UpVoltage2ndChange, "u/3 -/2 u/3 UpVoltage2nd=257"},
        {"gen2-v2", Request::LowVoltage2ndChange, "l/3 -/2 l/3 LowVoltage2nd=204"},
        {"gen2-v2", Request::OutVoltage2ndChange, "o/3 -/2 o/3 OutputVoltageConstant2nd=240"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.profile) + " " + char(row.request));
        ViewRig rig(row.profile);
        EXPECT_EQ(rig.handle(row.request), row.log) << "no tone, no flash";
        // The poll thread waits for the window three times: the last request's note cleared,
        // the value shown, and the unit's values taken once the request is over.
        EXPECT_EQ(rig.handOffs, 3);
        EXPECT_EQ(rig.view().settled, 2) << "once at the start, once after the request";
    }
}

// ---- Commands ----

TEST(CommandRequests, ResetShowsExactlyTheTenFactorySettings) {
    ViewRig rig("su1000");
    // Move two settings away from their factory values first.
    rig.handle(Request::UpVoltageChange);
    rig.handle(Request::AlarmDelayChange);
    // The reset, the unit's pause, the ten read back, the tone, then the ten shown.
    EXPECT_EQ(rig.handle(Request::ResetAll, 'z'),
              "z/5 ~1500 l/3 u/3 o/3 E/3 p/3 r/3 k/1 e/2 s/1 q/2 " + kTone +
                  " UpTransferVoltage=253 LowTransferVoltage=208 OutputVoltageConstant=230 "
                  "SelfTest=336 ShutDownDelay=020 WakeUpDelay=000 Sensitivity= High  "
                  "AlarmDelay= 5 Seconds Threshold=00 LowBatWarning=02");
}

// A plan names each setting by its place in the settings table and the request its button
// posts: a step the setting has no button for, or no such setting, is sent nowhere.
TEST(CommandRequests, ARestorePlanStepsOnlyASettingWithItsOwnButton) {
    const struct {
        int index;
        Request request;
        const char* missed;
    } rows[] = {
        {0, Request::LowVoltageChange, "Up Voltage: not a step of this setting"},
        {0, Request::ResetAll, "Up Voltage: not a step of this setting"},
        {1, Request::ReadEeprom, "Low Voltage: not a step of this setting"},
        {-1, Request::UpVoltageChange, "setting -1: no stored setting"},
        {kStoredSettingCount, Request::UpVoltageChange, "setting 11: no stored setting"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.missed);
        ViewRig rig("su1000");
        const RestoreTarget target{.index = row.index,
                                   .code = char(row.request),
                                   .value = "208",
                                   .offered = {"253", "208"}};
        EXPECT_EQ(rig.handle(Request::RestoreSettings, '-', {target}),
                  std::string("note:Settings restored: 0 of 1. Not restored: ") + row.missed + ".");
    }
}

TEST(CommandRequests, SelfTestPanelTestAndBypassChangeNothingOnScreen) {
    // No field, no tone: the log is the command alone.
    const std::pair<Request, std::string> rows[] = {
        {Request::SelfTest, "W"}, {Request::PanelTest, "A"}, {Request::Bypass, "^"}};
    for (const auto& [request, command] : rows) {
        SCOPED_TRACE(command);
        ViewRig rig("surt1000xl");
        const std::string log = rig.handle(request);
        EXPECT_EQ(log.substr(0, command.size() + 1), command + "/") << log;
        EXPECT_EQ(log.find(' '), std::string::npos) << log;
    }
}

// ---- Identity texts ----

TEST(TextRequests, EachWritesTheEntryAndShowsWhatTheUnitKeeps) {
    struct Row {
        char code;
        const char* entry;
        std::string typed;
        std::string wire;
        char stored;  // the unit's command for the text
        std::string kept;
        const char* refused = "";  // the texts the unit does not let be written
    };
    const Row rows[] = {
        {'h', "ManufactureDate", "01/02/05", "m-01/02/05m", 'm', "01/02/05"},
        {'i', "BatteriesReplaseDate", "03/04/06", "x-03/04/06x", 'x', "03/04/06"},
        // The UPS id is read once more after the write.
        {'j', "ID", "BENCH_01", "c-BENCH_01cc", 'c', "BENCH_01"},
        // A short text is filled up with blanks to the unit's width.
        {'k', "SerialNumber", "QA1234", "n-QA1234        n", 'n', "QA1234        "},
        // "NA" to the "-": none of the text goes out, and nothing is confirmed.
        {'j', "ID", "WRAP", "c-c", 'c', "UPS_IDEN", "c"},
        {'i', "BatteriesReplaseDate", "KSZ@DU", "x-x", 'x', "11/29/96", "x"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.entry);
        Rig rig("su1000", [&row](sim::Profile& p) { p.refusedTexts = row.refused; });
        QLineEdit* entry = rig.form().control<QLineEdit>(row.entry);
        const int beeps = rig.beeps();
        const Micros before = rig.now();
        EXPECT_EQ(rig.statusPass(
                      {{row.code, '-'}},
                      [&] {
                          EXPECT_EQ(text(entry), row.kept);
                          EXPECT_EQ(fontOf(entry), kBlack);
                      },
                      [&] { entry->setText(QString::fromStdString(row.typed)); }),
                  row.wire);
        EXPECT_EQ(rig.unit().model().text(row.stored), row.kept);
        const bool refused = *row.refused != '\0';
        EXPECT_EQ(rig.beeps(), beeps + (refused ? 0 : 1));
        EXPECT_EQ(rig.form().statusText() == "The UPS did not accept the new text.", refused);
        if (!refused) {
            EXPECT_GE(rig.now() - before, Millis(500 + 500)) << "pause and tone";
        }
    }
}

TEST(TextRequests, TheTextIsTakenWhenTheRequestIsCarriedOut) {
    Rig rig("su1000");
    Ui::TForm1& ui = rig.ui();
    ASSERT_TRUE(rig.bench().atRefresh([&] {
        ui.ID->setText(QStringLiteral("FIRST"));
        rig.form().requestQueue->Push('j', '-');
        ui.ID->setText(QStringLiteral("SECOND"));  // edited after Enter, before the request ran
    }));
    ASSERT_TRUE(rig.bench().atRefresh([] {}));
    EXPECT_EQ(rig.unit().model().text('c'), "SECOND  ");
}

TEST(TextRequests, FirmwareHeadIsWrittenAndShownWithAShortFlash) {
    // A unit that refuses the write keeps its head; the entry shows it, unconfirmed.
    for (const bool refused : {false, true}) {
        Rig rig("su1000-3g", [refused](sim::Profile& p) { p.refusedTexts = refused ? "b" : ""; });
        Ui::TForm1& ui = rig.ui();
        const int beeps = rig.beeps();
        const std::string head = refused ? "652" : "777";
        EXPECT_EQ(rig.statusPass(
                      {{'O', '-'}},
                      [&] {
                          EXPECT_EQ(text(ui.SU36G), head);
                          EXPECT_EQ(fontOf(ui.SU36G), kBlack);
                      },
                      [&] { ui.SU36G->setText(QStringLiteral("777")); }),
                  refused ? "b-b" : "b-777b");
        EXPECT_EQ(rig.unit().model().firmware(), head + ".12.I");
        EXPECT_EQ(rig.beeps(), beeps + (refused ? 0 : 1));
        EXPECT_EQ(rig.form().statusText() == "The UPS did not accept the new text.", refused);
    }
}

// ---- Walks toward a typed value ----

TEST(Walks, ATargetChangedAfterEnterSendsNothing) {
    // Enter confirms the target; the poll thread takes the request later (much later while
    // another walk runs). A field edited or erased in between no longer says what the
    // technician wants: nothing reaches the unit, the field keeps the edit, and the status text
    // says why.
    struct Row {
        const char* profile;
        const char* entry;
        const char* confirmed;
        const char* edited;
        char code;  // 0: posted by Enter; otherwise posted as the connection step posts it
    };
    const Row rows[] = {
        // Constants.
        {"su1000", "Const0", "A5", "A", 0},
        {"su1000", "Const_6", "80", "81", 0},
        {"gen2-v2", "Const52nd", "EE", "", 0},
        // Meters: a load erased after Enter would walk the meter down to 0 W.
        {"su1000", "LoadSmartConst", "175", "", 0},
        {"su1000", "InputVoltageConstantSmart", "228", "22", 0},
        {"backpro", "InputVoltageConstantBP", "232", "", 0},
        // Model codes, both kinds: "1" would step to a neighbouring code.
        {"su1000", "ModelConst", "16", "1", 0},
        {"gen2-v2", "ModelConst", "F7", "F", 0},
        {"gen2-v2", "ModelConst", "F7", "", 't'},
        // Second-generation targets.
        {"gen2-v2", "LoadSmart2nd", "190", "19", 0},
        {"gen2-v2", "InputVoltageConstantSmart2nd", "226", "", 0},
        {"gen2-v2", "BatSmart2nd", "26.50", "26.5", 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.profile) + " " + row.entry);
        Rig rig(row.profile);
        TForm1& form = rig.form();
        QLineEdit* entry = form.control<QLineEdit>(row.entry);
        const int beeps = rig.beeps();
        const std::string wire = rig.statusPass(
            {},
            [&] {
                EXPECT_EQ(form.statusText(), RequestHandler::TargetChangedText());
                EXPECT_EQ(text(entry), row.edited);
            },
            [&] {
                entry->setText(QString::fromLatin1(row.confirmed));
                if (row.code == 0) {
                    QTest::keyClick(entry, Qt::Key_Return);
                } else {
                    form.requestQueue->Push(row.code, '-', row.confirmed);
                }
                ASSERT_FALSE(form.requestQueue->IsEmpty()) << "Enter posted the walk";
                entry->setText(QString::fromLatin1(row.edited));
            });
        EXPECT_EQ(wire, "") << "nothing beyond the pass's own reads";
        EXPECT_EQ(rig.beeps(), beeps);
    }
}

TEST(MeterWalks, WithTheReadingsWanderingAWalkArrivesOrStopsSoon) {
    // The unit's readings drift with the mains and the load, by about as much as one step of
    // the load meter. A walk still arrives; a meter at its end stop (25 V from the truth) ends
    // after 16 steps without coming closer, long before its bound.
    struct Row {
        const char* profile;
        char code;
        const char* target;
        const char* typed;
        bool arrives;
    };
    const Row rows[] = {
        {"su1000", 'J', "InputVoltageConstantSmart", "210", true},
        {"su1000", 'H', "LoadSmartConst", "120", true},
        // Round the unit's own way, through the wrap from the bottom of its range to the top.
        {"gen2-v2", 'K', "InputVoltageConstantSmart2nd", "235", true},
        {"gen2-v2", 's', "BatSmart2nd", "26.50", true},
        {"su1000", 'J', "InputVoltageConstantSmart", "100", false},
        {"su1000", 'H', "LoadSmartConst", "650", false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.profile) + " " + row.code + " " + row.typed);
        Rig rig(row.profile);
        rig.unit().model().setDrift(true);
        TForm1& form = rig.form();
        QLineEdit* target = form.control<QLineEdit>(row.target);
        const int beeps = rig.beeps();
        const QString before = form.statusText();
        const std::string wire = rig.statusPass(
            {{row.code, '-'}},
            [&] {
                EXPECT_EQ(form.statusText(),
                          row.arrives ? before : RequestHandler::WalkEndText({WalkEnd::Still, 0}));
            },
            [&] { target->setText(QString::fromLatin1(row.typed)); });
        EXPECT_EQ(rig.beeps(), beeps + (row.arrives ? 1 : 0));
        if (!row.arrives) {
            const auto steps = std::count(wire.begin(), wire.end(), '+') +
                               std::count(wire.begin(), wire.end(), '-');
            EXPECT_LE(steps, 25 * 2 + 2 * kStillWalkBound) << "well short of the bound";
            EXPECT_GE(steps, kStillWalkBound);
        }
    }
}

TEST(MeterWalks, EachMeterWalksToItsTargetAndClearsTheEntry) {
    struct Row {
        const char* profile;
        char code;
        const char* target;
        std::string typed;
        std::string wire;
        const char* shown;  // also the entry that flashes
        std::string value;
    };
    const Row rows[] = {
        // Down to the target, then the step back past it.
        {"su1000", 'J', "InputVoltageConstantSmart", "228", "L-LL-LL+L", "InputVoltage", "229.0"},
        // Up: a reading equal to the target is not past it yet.
        {"backpro", 'L', "InputVoltageConstantBP", "232", "L+LL+LL+LL-L", "InputVoltageBackPro",
         "232.0"},
        // Second generation: down in the unit's own steps until just above the target.
        {"gen2-v2", 'K', "InputVoltageConstantSmart2nd", "226", "aLaL", "InputVoltage2nd", "228.0"},
        {"gen2-v2", 'I', "LoadSmart2nd", "190", "bPbP", "LoadW2nd", "196"},
        // 27.30 V down by 0.15 V until less than 0.3 V above 26.50; the reading is asked for
        // after every step that is not the last.
        {"gen2-v2", 's', "BatSmart2nd", "26.50", "dBBdBBdBBdB", "BatteryVoltage2nd", "26.70"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.profile) + " " + row.code);
        Rig rig(row.profile);
        TForm1& form = rig.form();
        QLineEdit* target = form.control<QLineEdit>(row.target);
        QLineEdit* shown = form.control<QLineEdit>(row.shown);
        const int beeps = rig.beeps();
        EXPECT_EQ(rig.statusPass(
                      {{row.code, '-'}},
                      [&] {
                          EXPECT_EQ(text(shown), row.value);
                          EXPECT_EQ(fontOf(shown), kBlack);
                          EXPECT_TRUE(target->text().isEmpty());
                      },
                      [&] { target->setText(QString::fromStdString(row.typed)); }),
                  row.wire);
        EXPECT_EQ(rig.beeps(), beeps + 1);
    }
}

TEST(Walks, AWalkThatDoesNotReachItsTargetIsNotConfirmedAndSaysWhy) {
    // Green and the tone mean "confirmed": a walk stopped by its bound, by a value that no
    // longer moves or by a crossed target gets neither, nor one that got "NA" or garbage where
    // a value belongs (a meter would read it as 0), nor one whose meter reading jumped (a mains
    // dip). It shows where it ended, sends nothing more, and the status text says why until the
    // next request begins.
    struct Row {
        const char* what;
        const char* profile;
        char code;
        const char* entry;  // the target's entry
        const char* target;
        std::string wire;   // the walk's commands, then the change request's
        const char* shown;  // the entry that shows the final value, at every step
        std::string value;
        QString status;
        std::function<void(sim::SimUps&)> fault = nullptr;  // after the third step shown
    };
    // A first-generation meter step selects the meter with its read command first.
    const auto answer = [](char command, const char* reply, int skip) {
        return [=](sim::SimUps& unit) { unit.answerOnce(command, reply, skip); };
    };
    const QString jumped = RequestHandler::WalkEndText({WalkEnd::Jumped, 0});
    const QString noValue = RequestHandler::WalkEndText({WalkEnd::NoAnswer, 0});
    const Row rows[] = {
        // The input meter moves at most 25 V from the truth: from 205 V on it stands still.
        // The last step that came 3 V closer than any before was the 24th.
        {"meter at its end stop", "su1000", 'J', "InputVoltageConstantSmart", "100",
         repeat("L-L", 24 + kStillWalkBound), "InputVoltage", "205.0",
         RequestHandler::WalkEndText({WalkEnd::Still, 0})},
        // The unit reports codes E0 to FF only, each "H" the next: "10" never comes.
        {"code the unit never reports", "gen2-v2", 't', "ModelConst", "10",
         repeat("H", kModelCodeWalkBound), "ModelConst", "",
         RequestHandler::BoundReachedText(kModelCodeWalkBound)},
        // No model of the line has code 50: the walk crosses it and stops at 47.
        {"code the product line lacks", "su1000", 'Q', "ModelConst", "50", "", "ModelConst", "47",
         RequestHandler::WalkEndText({WalkEnd::Crossed, 0})},
        // The last row of the table is a hard stop: the code stays where it is.
        {"code beyond the end of the table", "su1000", 'Q', "ModelConst", "FF", "", "ModelConst",
         "", RequestHandler::WalkEndText({WalkEnd::Unmoved, 0})},
        {"input read answered NA", "su1000", 'J', "InputVoltageConstantSmart", "210",
         repeat("L-L", 4), "InputVoltage", "NA", noValue, answer('L', "NA", 1)},
        {"input read answered garbage", "su1000", 'J', "InputVoltageConstantSmart", "210",
         repeat("L-L", 4), "InputVoltage", "xy", noValue, answer('L', "xy", 1)},
        {"mains dip of 40 V", "su1000", 'J', "InputVoltageConstantSmart", "210", repeat("L-L", 4),
         "InputVoltage", "187.0", jumped, answer('L', "187.0", 1)},
        {"second-generation read answered NA", "gen2-v2", 'K', "InputVoltageConstantSmart2nd",
         "215", repeat("aL", 4), "InputVoltage2nd", "NA", noValue, answer('L', "NA", 0)},
        {"constant step answered NA", "su1000", 'l', "Const0", "FF", "0++++", "Const0", "NA",
         noValue, answer('+', "NA", 0)},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        Rig rig(row.profile);
        TForm1& form = rig.form();
        auto* entry = form.findChild<QLineEdit*>(row.entry);
        auto* shown = form.findChild<QLineEdit*>(row.shown);
        ASSERT_TRUE(entry && shown);
        const int beeps = rig.beeps();
        int steps = 0;
        const auto connection = QObject::connect(shown, &QLineEdit::textChanged, [&] {
            if (++steps == 3 && row.fault)
                row.fault(rig.unit());
        });
        const std::string wire = rig.statusPass(
            {{row.code, '-'}},
            [&] {
                EXPECT_EQ(form.statusText(), row.status);
                if (!row.value.empty()) {
                    EXPECT_EQ(text(shown), row.value);
                }
                EXPECT_EQ(fontOf(shown), kBlack);
            },
            [&] {
                entry->setText(QString::fromLatin1(row.target));
                steps = 0;
            });
        QObject::disconnect(connection);
        if (!row.wire.empty()) {
            EXPECT_EQ(wire, row.wire);
        }
        EXPECT_EQ(rig.beeps(), beeps) << "no tone for a walk that did not arrive";

        // The next request clears the explanation.
        rig.statusPass({{'8', '-'}}, [&] { EXPECT_TRUE(form.statusText().isEmpty()); });
    }
}

TEST(Walks, AReachedWalkLeavesTheStatusTextAlone) {
    Rig rig("su1000");
    const QString before = rig.form().statusText();
    const int beeps = rig.beeps();
    rig.statusPass(
        {{'l', '-'}}, [&] { EXPECT_EQ(rig.form().statusText(), before); },
        [&] { rig.ui().Const0->setText(QStringLiteral("A3")); });
    EXPECT_EQ(rig.beeps(), beeps + 1);
}

// A request whose selection the unit did not take (lost on the line, or answered "NA") sends
// nothing that only means something after it: no sign, no "-" of a text, no character, no
// EEPROM step (each would move what the unit had selected before). It is not confirmed and
// says which selection failed. On a unit whose "#" is a calibration constant the EEPROM read
// sends nothing at all.
TEST(Walks, ASelectionTheUnitDidNotHearStepsNothingAndSaysWhy) {
    enum Fault { None, Lose, Refuse };
    const auto heard = [](const char* what) {
        return "The UPS did not answer the selection of " + std::string(what) +
               ": nothing was sent after it.";
    };
    const auto refused = [](const char* what) {
        return "The UPS did not take the selection of " + std::string(what) +
               " (it answered \"NA\"): nothing was sent after it.";
    };
    const struct {
        const char* profile;
        char code;
        const char* entry;
        const char* target;
        Fault fault;
        std::string wire;
        std::string note;
    } rows[] = {
        {"su1000", 'l', "Const0", "A5", Lose, "0", heard("constant 0")},
        {"su1000", 'l', "Const0", "A5", Refuse, "0", refused("constant 0")},
        {"su1000-3g", 'Z', "Const_5", "66", Lose, "%", heard("constant %")},
        {"su1000", 'W', nullptr, nullptr, Lose, "#", heard("the EEPROM")},
        {"su1000", 'W', nullptr, nullptr, Refuse, "#", refused("the EEPROM")},
        {"su1000", 'j', "ID", "WRAP", Refuse, "cc", refused("the UPS id")},
        {"su1000", 'j', "ID", "WRAP", Lose, "cc", heard("the UPS id")},
        {"su1000", 'h', "ManufactureDate", "01/02/03", Refuse, "mm",
         refused("the manufacture date")},
        {"su1000", '8', nullptr, nullptr, Refuse, "uu", refused("the high transfer voltage")},
        {"su1000", '5', nullptr, nullptr, Refuse, ">>", refused("the battery packs")},
        {"su1000", '3', nullptr, nullptr, Refuse, "LLO", refused("the input voltage meter")},
        {"backpro", 'E', nullptr, nullptr, Refuse, "ee", refused("the float voltage")},
        {"sc1000", 'W', nullptr, nullptr, None, "",
         "The EEPROM cannot be read on this UPS: \"#\" is a calibration constant here."},
        {"sc620", 'W', nullptr, nullptr, None, "",
         "The EEPROM cannot be read on this UPS: \"#\" is a calibration constant here."},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.profile) + " " + row.code + " " + row.wire);
        Rig rig(row.profile);
        const int beeps = rig.beeps();
        QString note;
        const std::string wire = rig.statusPass(
            {{row.code, '-'}}, [&] { note = rig.form().statusText(); },
            [&] {
                if (row.entry != nullptr)
                    rig.form().control<QLineEdit>(row.entry)->setText(row.target);
                // After the link check and the four registers.
                if (row.fault == Lose)
                    rig.unit().loseByte(5);
                if (row.fault == Refuse)
                    rig.unit().refuseByte(5);
            });
        EXPECT_EQ(wire.substr(0, wire.find('Y')), row.wire);
        EXPECT_EQ(note.toStdString(), row.note);
        EXPECT_EQ(rig.beeps(), beeps) << "not confirmed";
    }
}

TEST(ModelCodeWalks, BackUpsProReachesTheTypedCode) {
    // Each step asks for the firmware first; all of its reply is read, so every code read
    // back is a code.
    Rig rig("backpro");
    Ui::TForm1& ui = rig.ui();
    const int beeps = rig.beeps();
    std::vector<std::string> shown;
    const auto watch =
        QObject::connect(ui.ModelConst, &QLineEdit::textChanged,
                         [&](const QString& t) { shown.push_back(t.toStdString()); });
    rig.statusPass(
        {{'Q', '-'}},
        [&] {
            EXPECT_EQ(text(ui.ModelConst), "26");
            EXPECT_EQ(text(ui.Model), "Back-UPS Pro 500");
        },
        [&] { ui.ModelConst->setText(QStringLiteral("26")); });
    QObject::disconnect(watch);
    EXPECT_EQ(rig.unit().model().modelCode(), 0x26);
    EXPECT_EQ(rig.beeps(), beeps + 1);
    for (const std::string& code : shown)
        EXPECT_TRUE(code.empty() || IsModelCode(code.c_str())) << '"' << code << '"';
}

TEST(MeterWalks, UnitThatStopsAnsweringMidWalkShowsTheEmptyValueAndTheLinkIsLost) {
    Rig rig("su1000");
    Ui::TForm1& ui = rig.ui();
    const int beeps = rig.beeps();
    // The cable is pulled while the walk shows its third step (the "Status" page is shown, so
    // nothing else writes the entry).
    int shown = 0;
    const auto connection = QObject::connect(ui.InputVoltage, &QLineEdit::textChanged, [&] {
        if (++shown == 3)
            rig.unit().unplug();
    });
    ASSERT_TRUE(rig.bench().atRefresh([&] {
        ui.PageControl1->setCurrentWidget(ui.TabSheet6);
        ui.InputVoltageConstantSmart->setText(QStringLiteral("200"));
        PostRequest(rig.form(), 'J', '-');
        shown = 0;
    }));
    const bool ended = EngineBench::waitFor([&] { return rig.form().workerEnded == 1; });
    QObject::disconnect(connection);
    ASSERT_TRUE(ended);
    EXPECT_EQ(shown, 4) << "three steps, then the empty value";
    EXPECT_TRUE(ui.InputVoltage->text().isEmpty());
    EXPECT_TRUE(ui.InputVoltageConstantSmart->text().isEmpty());
    EXPECT_EQ(rig.beeps(), beeps) << "an unanswered walk is not confirmed";
    EXPECT_EQ(rig.form().statusText(), rig.form().textNoConnection);
}

TEST(ModelCodeWalks, TypedCodeIsReachedAndEverythingThatFollowsItIsReadAgain) {
    struct Row {
        const char* profile;
        std::string typed;
        std::string select;  // what the walk sends before its first step
        std::string model, firmware;
    };
    const Row rows[] = {
        {"su1000", "16", "b", "SMART-UPS 420", "21.7.I"},
        {"su1000-3g", "0E", "\x02", "Smart-UPS 1500", ".12.I"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.profile);
        Rig rig(row.profile);
        Ui::TForm1& ui = rig.ui();
        const int beeps = rig.beeps();
        const std::string wire = rig.statusPass(
            {{'Q', '-'}},
            [&] {
                EXPECT_EQ(text(ui.ModelConst), row.typed);
                EXPECT_EQ(text(ui.Model), row.model);
                EXPECT_EQ(text(ui.Firmware), row.firmware);
                EXPECT_EQ(text(ui.UpTransferVoltage), "253");
                EXPECT_EQ(fontOf(ui.ModelConst), kBlack);
            },
            [&] {
                ui.ModelConst->setText(QString::fromStdString(row.typed));
                ui.UpTransferVoltage->setText(kMark);
            });
        EXPECT_EQ(rig.unit().model().modelCode(), std::stoi(row.typed, nullptr, 16));
        EXPECT_EQ(wire.substr(0, 2), row.select + "+") << "selected, then one step up";
        EXPECT_EQ(wire.substr(wire.size() - 3), "ulo");
        EXPECT_EQ(rig.beeps(), beeps + 1);
    }
}

TEST(ModelCodeWalks, ThirdGenerationShowsTheNewFirmwareHead) {
    Rig rig("su1000-3g");
    Ui::TForm1& ui = rig.ui();
    rig.statusPass(
        {{'Q', '-'}},
        [&] {
            EXPECT_EQ(text(ui.SU36G), "653");
            EXPECT_EQ(rig.form().labelOf(ui.SU36G)->text(), QStringLiteral(".12.I"));
        },
        [&] { ui.ModelConst->setText(QStringLiteral("0E")); });
}

TEST(ConstantWalks, SecondWalkToTheSameValueStepsOverAndBack) {
    Rig rig("su1000");
    Ui::TForm1& ui = rig.ui();
    const int beeps = rig.beeps();
    EXPECT_EQ(rig.statusPass(
                  {{'l', '-'}, {'l', '-'}}, [&] { EXPECT_EQ(text(ui.Const0), "A0"); },
                  [&] { ui.Const0->setText(QStringLiteral("A0")); }),
              "0+-0+-");
    EXPECT_EQ(rig.beeps(), beeps + 2);
    EXPECT_EQ(rig.unit().model().constant('0'), 0xA0);
}

}  // namespace
}  // namespace morlen::test
