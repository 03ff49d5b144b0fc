// Choosing a port connects: open, check smart mode, identify, fill the family's page, run the
// chosen options and start the poll thread. All of it runs on the window thread.
#include <QApplication>
#include <QColor>
#include <QMessageBox>
#include <QPalette>
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <utility>

#include "AdapterPorts.h"
#include "Apcdynamicdata.h"
#include "BatteryService.h"
#include "Connection.h"
#include "DisplayRefresh.h"
#include "Performancegraph.h"
#include "PortFailureText.h"
#include "Tag.h"
#include "Unit1.h"

using morlen::APCUPS;

namespace {

template <std::size_t N>
QString textOf(const morlen::FixedText<N>& field) {
    return QString::fromLatin1(field.c_str());
}

void setBackground(QWidget* field, const QColor& colour) {
    QPalette p = field->palette();
    p.setColor(QPalette::Base, colour);
    field->setPalette(p);
}

void enable(std::initializer_list<QWidget*> controls, bool on) {
    for (QWidget* c : controls)
        c->setEnabled(on);
}

void setShown(std::initializer_list<QWidget*> controls, bool on) {
    for (QWidget* c : controls)
        c->setVisible(on);
}

// Holds the wait cursor while the window thread talks to the unit.
struct WaitCursor {
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
};

}  // namespace

namespace morlen {

int BatteryConstantValue(const APCUPS& unit) {
    const long r = morlen::Truncate(unit.ratingVA);
    int value = 0xA0;
    if (unit.isStack) {
        if (r == 450)
            value = 153;
        if (r == 250)
            value = 178;
    } else if (unit.hasHL8Marker) {
        if (r == 700)
            value = 146;
        if (r == 1000)
            value = 199;
        if (r == 1400)
            value = 163;
    } else {
        const bool xl = unit.isXL, third = unit.isThirdGen, hash = unit.usesConstHash;
        const bool a = unit.s411FlagA, b = unit.s411FlagB;
        if (r == 450 || r == 700)
            value = 150;
        if (r == 1400)
            value = 154;
        if (r == 1000 && xl)
            value = 154;
        if (r == 750)
            value = third && xl ? 134 : 130;
        if (r == 1500)
            value = hash ? 143 : 161;
        if (r == 1000 && hash)
            value = 148;
        if (r == 1000 && third)
            value = 188;
        if (r == 1000 && third && xl)
            value = 127;
        if (r == 1000 && a)
            value = 168;
        if (r == 2000 && (a || b))
            value = xl ? 117 : 160;
        if (r == 3000 && b)
            value = xl ? 204 : 175;
        if (r == 5000) {
            if (!b) {
                value = 145;
            } else if (xl) {
                value = 134;
            }
        }
        if (r == 6000 && b && xl)
            value = 126;
        if (r == 7500 && b && xl)
            value = 149;
        if (r == 2200) {
            if (third) {
                if (unit.firmwareHead == "665")
                    value = 129;
                if (unit.firmwareHead == "654")
                    value = 179;
            } else {
                value = 175;
            }
        }
        if (r == 620)
            value = hash ? 153 : 138;
        if (r == 280 || r == 420)
            value = 140;
        if (r == 650)
            value = 145;
    }
    return value;
}

bool NextModelCode(const char* code, char* out) {
    const auto isHex = [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; };
    std::uint8_t byte = 0;
    if (!isHex(code[0]) || !isHex(code[1]) || !HexByte(code, byte))
        return false;
    // Two digits always: the unit answers two, so a shorter code could never match.
    std::snprintf(out, 3, "%02x", static_cast<unsigned>((byte + 1) & 0xFF));
    return true;
}

SelfTestSwitchOff SwitchSelfTestOff(APCUPS& ups) {
    using End = SelfTestSwitchOff::End;
    SelfTestSwitchOff off;
    off.before = ups.selfTestIntervalText.str();
    if (off.before == "OFF")
        return off;
    // A unit that does not tell its interval gets no step: it could not be set back.
    if (off.before.empty() || off.before == "NA") {
        off.end = End::NoAnswer;
        return off;
    }
    const auto step = [&ups, &off] {
        ups.StepSelfTestInterval();
        ++off.steps;
        return ups.selfTestIntervalText.str();
    };
    for (int i = 0; i < kSelfTestStepBound; ++i) {
        const std::string now = step();
        if (now == "OFF") {
            off.end = End::SwitchedOff;
            return off;
        }
        if (now.empty()) {
            off.end = End::NoAnswer;
            return off;
        }
        if (now == off.before) {
            off.end = End::CameRound;
            return off;
        }
    }
    // Not "OFF" within the bound: the unit keeps the interval it had, "OFF" on the way or not.
    for (int i = 0; i < kSelfTestStepBound; ++i) {
        const std::string now = step();
        if (now.empty()) {
            off.end = End::NoAnswer;
            return off;
        }
        if (now == off.before) {
            off.end = End::SetBack;
            return off;
        }
    }
    off.end = End::LeftMoved;
    return off;
}

std::string SelfTestSwitchOffText(const SelfTestSwitchOff& off, const std::string& now) {
    using End = SelfTestSwitchOff::End;
    const std::string failed = "Self test could not be switched off";
    switch (off.end) {
        case End::AlreadyOff:
        case End::SwitchedOff:
            break;
        case End::NoAnswer:
            if (off.steps == 0)
                return failed + ": the UPS does not report its self-test interval.";
            return failed + ": the UPS stopped answering after " + std::to_string(off.steps) +
                   (off.steps == 1 ? " step." : " steps.");
        case End::CameRound:
            return failed + ": the UPS offers no \"OFF\". Its interval is " + off.before +
                   " as before.";
        case End::SetBack:
            return failed + " within " + std::to_string(kSelfTestStepBound) +
                   " steps. Its interval is " + off.before + " as before.";
        case End::LeftMoved:
            return failed + " within " + std::to_string(kSelfTestStepBound) +
                   " steps, nor set back: its interval is " + now + ", it was " + off.before + ".";
    }
    return {};
}

}  // namespace morlen

void TForm1::fillPortList() {
    // COM1..COM4 come from the form and stay; adapters follow, as they are now. An adapter
    // shows its short name and keeps its whole path for the open.
    QComboBox* list = ui->ComboBox1;
    const QString chosen = list->currentIndex() >= 4 ? list->currentData().toString() : QString();
    while (list->count() > 4)
        list->removeItem(list->count() - 1);
    for (const morlen::AdapterPort& port :
         morlen::ListAdapterPorts(portDeviceFolder.toStdString(), portSysfsRoot.toStdString())) {
        const QString path = QString::fromStdString(port.path);
        QString tip = path;
        const QString about = QString::fromStdString(port.maker.empty() || port.product.empty()
                                                         ? port.maker + port.product
                                                         : port.maker + " " + port.product);
        if (!about.isEmpty())
            tip += QStringLiteral("\n") + about;
        list->addItem(QString::fromStdString(port.name), path);
        list->setItemData(list->count() - 1, tip, Qt::ToolTipRole);
    }
    if (!chosen.isEmpty())
        list->setCurrentIndex(list->findData(chosen));
}

void TForm1::showErrorBox(const QString& text, const QString& reason) {
    if (errorBox) {
        errorBox(text, reason);
        return;
    }
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Error"), text, QMessageBox::Ok, this);
    box.setInformativeText(reason);
    box.exec();
}

void TForm1::FinishPreviousWorker() {
    // After a lost connection the port choice is usable again while the old thread is still
    // returning; let it end before a new connection replaces it.
    if (worker != nullptr && workerEnded != 1) {
        morlen::APCDynamicData* old = worker;
        old->FinishOnWindowThread();
    }
}

void TForm1::ReconnectClick() {
    ComboBox1Change();
}

void TForm1::ComboBox1Change() {
    WaitCursor busy;
    FinishPreviousWorker();
    Tag = 0;
    if (ups->PortHandleValid()) {
        if (!ups->ClosePortHandle()) {
            showErrorBox(textPortCloseFailed);
            return;
        }
        ups->clock().sleepMs(500);
    }
    const int index = ui->ComboBox1->currentIndex();
    // An adapter's item carries its whole path; COM1..COM4 are their own names.
    QString name = index >= 0 ? ui->ComboBox1->itemData(index).toString() : QString();
    if (name.isEmpty() && index >= 0)
        name = ui->ComboBox1->itemText(index);
    if (!ups->OpenPort(name.toStdString())) {
        showErrorBox(textPortOpenFailed, morlen::OpenFailureText(ups->port().lastOpenFailure()));
        return;
    }
    const bool answered = ups->CheckSmartMode();
    lampOk = ups->smartModeOk;
    ui->StatusBar1->update();
    if (!answered) {
        setStatusText(textNoConnection);
        return;
    }
    // Requests count again, for this connection only.
    requestQueue->Open();
    setStatusText(textConnected);
    ui->UPSMessage->clear();
    ui->Reconnect->setEnabled(false);
    ui->ComboBox1->setEnabled(false);
    restartSent_ = false;
    journalFeed->ConnectionOpened(name);
    StartClick();
    journalFeed->ConnectionBegun(*ups, textConnected, shownReadings());

    worker = new morlen::APCDynamicData({*this, *this, *ups, *requestQueue, *tone, *journalFeed});
    connect(worker, &morlen::APCDynamicData::ended, this, [this, ended = worker] {
        WorkerTerminated();
        // The window must not reach the thread any more; leave it no dangling reference.
        if (worker == ended)
            worker = nullptr;
    });
    workerEnded = 0;
    worker->start();
    // A new connection, a new service: the last one's state belongs to the last unit.
    serviceState = {};
    if (serviceDialog)
        serviceDialog->deleteLater();
    ui->BatteryService->setEnabled(true);
}

void TForm1::PageSwitch(QWidget* active, std::initializer_list<QWidget*> shown) {
    Ui::TForm1& u = *ui;
    setActivePage(active);
    u.PageControl1->show();
    u.PageControl1->setEnabled(true);
    u.GroupBox7->show();
    for (QWidget* page :
         {u.TabSheet1, u.TabSheet2, u.TabSheet3, u.TabSheet4, u.TabSheet5, u.TabSheet7}) {
        setPageShown(page, std::find(shown.begin(), shown.end(), page) != shown.end());
    }
    // The battery page, for every family that answers one of its reads.
    setPageShown(u.TabSheet10, ups && ups->AnswersLineQuality());
    // Hiding the other tabs can move the current page; the family's page stays in front.
    setActivePage(active);
}

void TForm1::StartClick() {
    Ui::TForm1& u = *ui;
    APCUPS& unit = *ups;
    // The nested call after a restart has run the options already.
    bool restarted = false;

    // Preamble.
    unitCapabilities.clear();
    enable({u.Graphics, u.ModelConst}, true);
    setShown({u.GroupBox1, u.GroupBox4, u.GroupBox8, u.GroupBox14}, true);
    u.PageControl2->setCurrentWidget(u.Buffer1);
    PageControl2Change();
    u.CompareEE->setEnabled(false);
    setTabShown(u.TabSheet9, false);
    setTabShown(u.TabSheet8, false);
    setShown({u.Const_3, u.Const_4, u.Const_5, u.Const_6, u.ConstCTRLD}, false);
    setShown({u.BatteryVoltageMinus, u.BatteryVoltagePlus, u.InputVoltagePlus, u.InputVoltageMinus,
              u.InputVoltageConstantSmart},
             true);
    u.BatteryPacks->setEnabled(true);
    setShown({u.BatteryPacksMinus, u.BatteryPacksPlus}, true);
    u.KPerformanceGraph1->DrawGrid();
    u.KPerformanceGraph2->DrawGrid();

    if (unit.Identify()) {
        if (unit.monitorOnly) {
            setStatusText(textMonitorOnly);
            u.UPSMessage->append(textMonitorOnly);
        }
        setFontColor(u.Memo1, QColor(0, 0, 0));
        for (QLineEdit* e :
             std::initializer_list<QLineEdit*>{u.ManufactureDate, u.BatteriesReplaseDate,
                                               u.ModelConst, u.LineFrequency, u.SerialNumber, u.ID})
            e->clear();
        // No rating in the name: no length limit (the tuning takes five characters).
        const int limit = unit.ratingDigits > 0 ? unit.ratingDigits : 32767;
        u.LoadSmartConst->setMaxLength(limit);
        u.LoadSmart2nd->setMaxLength(limit);

        if (u.SelfTestON1->isChecked() && unit.family != morlen::FamilyBackPro &&
            unit.family != morlen::FamilyBackCS) {
            if (restartSent_) {
                // Back from the restart: one per connection, whatever the unit reads now.
                if (!(unit.selfTestIntervalText == "OFF"))
                    setStatusText(QStringLiteral("Self test could not be switched off."));
            } else {
                const morlen::SelfTestSwitchOff off = morlen::SwitchSelfTestOff(unit);
                const std::string failed =
                    morlen::SelfTestSwitchOffText(off, unit.selfTestIntervalText.str());
                journalSwitchOff(off, failed);
                if (!failed.empty()) {
                    setStatusText(QString::fromStdString(failed));
                } else if (off.end == morlen::SelfTestSwitchOff::End::SwitchedOff &&
                           unit.family == morlen::FamilySmart2ndGen) {
                    restartSent_ = true;
                    unit.SendZPair();
                    StartClick();
                    restarted = true;
                    journalRestart();
                }
            }
        }

        switch (unit.family) {
            case morlen::FamilySmartNoSerial:
                FillSmartNoSerial();
                break;
            case morlen::FamilySmart:
                FillSmart();
                break;
            case morlen::FamilyBackPro:
                FillBackPro();
                break;
            case morlen::FamilySmart2ndGen:
                FillSmart2ndGen();
                break;
            case morlen::FamilyBackCS:
                FillBackCS();
                break;
            default:
                break;
        }
        ExtendedConstants(restarted);
    }
    if (unit.family == morlen::FamilySmart && u.AUTO1->isChecked())
        BatteryConstant();
    GraphicsChange();
}

void TForm1::journalSwitchOff(const morlen::SelfTestSwitchOff& off, const std::string& failed) {
    using End = morlen::SelfTestSwitchOff::End;
    // Only a step changes the unit: an interval already off, or none told, sends nothing.
    if (off.steps == 0)
        return;
    const morlen::journal::Outcome outcome =
        off.end == End::SwitchedOff ? morlen::journal::Outcome::Confirmed
        : off.end == End::NoAnswer  ? morlen::journal::Outcome::Unanswered
                                    : morlen::journal::Outcome::NotReached;
    journalFeed->StepChanged(*ups, QStringLiteral("Self Test"), QString::fromStdString(off.before),
                             textOf(ups->selfTestIntervalText), outcome,
                             QString::fromStdString(failed));
}

void TForm1::journalRestart() {
    // The restart stores the interval; identification after it reads what the unit kept.
    const QString now = textOf(ups->selfTestIntervalText);
    using morlen::journal::Outcome;
    const Outcome outcome = now.isEmpty()                 ? Outcome::Unanswered
                            : now == QLatin1String("OFF") ? Outcome::Confirmed
                                                          : Outcome::NotReached;
    const QString reason =
        outcome == Outcome::Unanswered ? QStringLiteral("The UPS did not answer after the restart.")
        : outcome == Outcome::NotReached ? QStringLiteral("Self test could not be switched off.")
                                         : QString();
    journalFeed->StepChanged(*ups, QString::fromLatin1(morlen::kRestartWhat), QStringLiteral("OFF"),
                             now, outcome, reason);
}

void TForm1::journalModelCodeRead() {
    using morlen::journal::Outcome;
    const int steps = ups->isThirdGen ? 0 : ups->modelCodeReadSteps;
    if (steps == 0)
        return;
    const QString code = textOf(ups->modelCodeText);
    Outcome outcome = Outcome::Confirmed;
    QString reason;
    if (steps == 1 && code.isEmpty()) {
        outcome = Outcome::NotReached;
        reason = QStringLiteral(
            "Stepped up one code; the UPS did not take the selection for the "
            "step back.");
    } else if (steps == 1 || !morlen::IsHexByte(ups->modelCodeText.c_str())) {
        outcome = code.isEmpty()                ? Outcome::Unanswered
                  : code == QLatin1String("NA") ? Outcome::Refused
                                                : Outcome::NotReached;
        reason = steps == 1 ? QStringLiteral("The UPS did not take the step up.")
                            : QStringLiteral("The UPS did not take the step back.");
    }
    journalFeed->StepChanged(*ups, QString::fromLatin1(morlen::kModelCodeReadWhat), QString(), code,
                             outcome, reason);
}

void TForm1::FillSmartNoSerial() {
    Ui::TForm1& u = *ui;
    APCUPS& unit = *ups;
    u.Graphics->setCurrentIndex(3);
    morlen::setTag(u.GroupBox26, 3);
    u.Graphics->setEnabled(false);
    u.Model->setText(textOf(unit.modelName));
    u.BatteryVoltageSmart->setText(textOf(unit.batteryVoltageText));
    u.UpTransferVoltage->setText(textOf(unit.highTransferText));
    u.LowTransferVoltage->setText(textOf(unit.lowTransferText));
    u.OutputVoltageConstant->setText(textOf(unit.outputSettingText));
    u.LineFrequency->setText(textOf(unit.lineFrequencyText));
    morlen::ShowInputAndOutput(*this, *ups);
    u.ModelConst->hide();
    u.Firmware->show();
    setShown({u.Label5, u.SU36G}, false);
    u.Firmware->setText(textOf(unit.firmwareText));
    setShown({u.GroupBox1, u.GroupBox4, u.GroupBox8, u.GroupBox14}, false);
    enable({u.Temperature, u.Label4, u.BatSysVolt}, false);
    u.BatSysVolt->clear();
    enable({u.Label16, u.BatteryPacks, u.BatteryPacksMinus, u.BatteryPacksPlus}, false);
    u.Temperature->clear();
    u.BatteryPacks->clear();
    PageSwitch(u.TabSheet1, {u.TabSheet1, u.TabSheet7});
    enable({u.ShutDownDelayChange,
            u.WakeUpDelayChange,
            u.SelfTestChange,
            u.AlarmDelayChange,
            u.Threshold,
            u.SelfTest,
            u.ShutDownDelay,
            u.WakeUpDelay,
            u.Label60,
            u.Label61,
            u.Label6,
            u.AlarmDelay,
            u.Label2,
            u.Sensitivity,
            u.ThresholdChange,
            u.SensitivityChange,
            u.LowBatWarning,
            u.ResetAll,
            u.LowBatWarningChange,
            u.Label15,
            u.ManufactureDate,
            u.BatteriesReplaseDate,
            u.SerialNumber,
            u.ID},
           false);
    enable({u.Label1, u.LineFrequency}, true);
    const QColor face = palette().color(QPalette::Button);
    for (QWidget* f : {u.SerialNumber, u.ManufactureDate, u.BatteriesReplaseDate, u.ID})
        setBackground(f, face);
}

void TForm1::ShowSettings() {
    Ui::TForm1& u = *ui;
    const APCUPS& unit = *ups;
    for (const morlen::StoredSetting& setting : morlen::StoredSettings())
        for (const morlen::SettingPlace& place : setting.places)
            if (place.button != nullptr && place.page == morlen::SettingPage::Settings)
                putText(place.field, QString::fromLatin1(setting.value(unit)));
    u.LineFrequency->setText(textOf(unit.lineFrequencyText));
}

void TForm1::FillSmart() {
    Ui::TForm1& u = *ui;
    APCUPS& unit = *ups;
    // The values the unit offers for each setting, which are all a restore may set, as the
    // identification read them.
    unitCapabilities = unit.capabilities;
    u.SerialNumber->setMaxLength(14);
    u.Model->setText(textOf(unit.modelName));
    u.ManufactureDate->setText(textOf(unit.manufactureDate));
    u.BatteriesReplaseDate->setText(textOf(unit.batteryReplaceDate));
    u.ID->setText(textOf(unit.upsId));
    u.SerialNumber->setText(textOf(unit.serialNumber));
    ShowSettings();
    u.Const0->setText(textOf(unit.const0Text));
    u.Const4->setText(textOf(unit.const4Text));
    u.Const5->setText(textOf(unit.const5Text));
    u.Const6->setText(textOf(unit.const6Text));
    u.BatSysVolt->setText(textOf(unit.batteryNominalText));
    u.BatteryVoltageSmart->setText(textOf(unit.batteryVoltageText));
    u.UpTransferVoltage->setText(textOf(unit.highTransferText));
    u.LowTransferVoltage->setText(textOf(unit.lowTransferText));
    u.OutputVoltageConstant->setText(textOf(unit.outputSettingText));
    u.RunTime->setText(textOf(unit.runTimeText));
    putBar(morlen::Bar::RunTimeBar, unit.runTimeMinutes);
    u.BatteryCharged->setText(textOf(unit.batteryCapacityText));
    putBar(morlen::Bar::BatteryChargedBar, unit.batteryCapacity);
    morlen::ShowInputAndOutput(*this, *ups);
    enable({u.BatSysVolt, u.Label16}, true);
    if (unit.noTemperature || unit.isStack) {
        u.Temperature->setEnabled(false);
        u.Temperature->clear();
        enable({u.Label4, u.BatteryPacks, u.BatteryPacksMinus, u.BatteryPacksPlus}, false);
        u.BatteryPacks->clear();
    } else {
        enable({u.Temperature, u.Label4, u.BatteryPacks, u.BatteryPacksMinus, u.BatteryPacksPlus},
               true);
        u.BatteryPacks->setText(textOf(unit.batteryPacksText));
        u.Temperature->setText(textOf(unit.temperatureText));
    }
    PageSwitch(u.TabSheet1, {u.TabSheet1, u.TabSheet5, u.TabSheet7});
    enable({u.Leds, u.Test}, true);
    u.ByPass->setEnabled(false);
    if (unit.s411FlagA || unit.s411FlagB)
        u.ByPass->setEnabled(true);
    if (unit.isThirdGen) {
        u.Firmware->hide();
        setShown({u.Label5, u.SU36G}, true);
        u.SU36G->setText(textOf(unit.firmwareHead));
        if (QLabel* caption = labelOf(u.SU36G))
            caption->setText(textOf(unit.firmwareText));
    } else {
        u.ModelConst->hide();
        u.Firmware->show();
        setShown({u.Label5, u.SU36G}, false);
        u.Firmware->setText(textOf(unit.firmwareText));
    }
    if (unit.usesConstHash) {
        setShown({u.BatteryVoltageMinus, u.BatteryVoltagePlus, u.InputVoltagePlus,
                  u.InputVoltageMinus, u.InputVoltageConstantSmart},
                 false);
        u.BatteryPacks->setEnabled(false);
        u.BatteryPacks->clear();
        setShown({u.BatteryPacksMinus, u.BatteryPacksPlus}, false);
    }
    enable({u.ShutDownDelayChange,
            u.WakeUpDelayChange,
            u.SelfTestChange,
            u.AlarmDelayChange,
            u.ResetAll,
            u.LowBatWarning,
            u.LowBatWarningChange,
            u.Label15,
            u.Threshold,
            u.SelfTest,
            u.ShutDownDelay,
            u.WakeUpDelay,
            u.Label60,
            u.Label61,
            u.Label6,
            u.AlarmDelay,
            u.Label2,
            u.Label1,
            u.Sensitivity,
            u.LineFrequency,
            u.ThresholdChange,
            u.SensitivityChange,
            u.ManufactureDate,
            u.BatteriesReplaseDate,
            u.SerialNumber,
            u.ID},
           true);
    for (QWidget* f : {u.SerialNumber, u.ManufactureDate, u.BatteriesReplaseDate, u.ID})
        setBackground(f, Qt::white);
}

void TForm1::FillBackPro() {
    Ui::TForm1& u = *ui;
    APCUPS& unit = *ups;
    u.Graphics->setCurrentIndex(3);
    morlen::setTag(u.GroupBox26, 3);
    u.Graphics->setEnabled(false);
    u.SerialNumber->setMaxLength(14);
    for (QLineEdit* e : std::initializer_list<QLineEdit*>{
             u.Ratio, u.FloatBackPro, u.EUTVoltage, u.DCOffset, u.CapasitorLoad, u.Temperature})
        e->clear();
    u.Firmware->show();
    setShown({u.Label5, u.SU36G}, false);
    enable({u.ModelMinus, u.ModelPlus, u.SerialNumber}, true);
    setFontColor(u.Memo1, QColor(0, 0, 0));
    enable({u.Label1, u.Temperature, u.Label4, u.BatSysVolt, u.Label16, u.LineFrequency,
            u.ManufactureDate, u.BatteriesReplaseDate, u.ID},
           false);
    const QColor face = palette().color(QPalette::Button);
    for (QWidget* f : {u.ManufactureDate, u.BatteriesReplaseDate, u.ID})
        setBackground(f, face);
    u.Leds->setEnabled(true);
    enable({u.Test, u.ByPass}, false);
    const bool small = unit.ratingDigits != 4;
    enable(
        {u.Ratio, u.EUTVoltage, u.FloatBackPro, u.CapasitorLoad, u.DCOffset, u.RatioMinus,
         u.RatioPlus, u.EUTVoltageMinus, u.EUTVoltagePlus, u.FloatBackProMinus, u.FloatBackProPlus,
         u.DCOffsetMinus, u.DCOffsetPlus, u.CapasitorLoadPlus, u.CapasitorLoadMinus},
        small);
    if (small) {
        u.FloatBackPro->setText(textOf(unit.floatVoltageText));
        u.Ratio->setText(textOf(unit.ratioText));
        u.EUTVoltage->setText(textOf(unit.eutVoltageText));
        u.CapasitorLoad->setText(textOf(unit.capacitorLoadText));
        u.DCOffset->setText(textOf(unit.dcOffsetText));
    }
    u.Model->setText(textOf(unit.modelName));
    u.Firmware->setText(textOf(unit.firmwareText));
    u.SerialNumber->setText(textOf(unit.serialNumber));
    u.BatteryVoltagePRO->setText(textOf(unit.batteryVoltageText));
    u.BBDVoltage->setText(textOf(unit.bbdVoltageText));
    u.LoadPercentBackPro->setText(textOf(unit.loadPercentText));
    putBar(morlen::Bar::LoadBackProBar, unit.loadPercent);
    u.LoadWBackPro->setText(textOf(unit.loadWattsText));
    u.InputVoltageBackPro->setText(textOf(unit.inputVoltageText));
    putBar(morlen::Bar::InputVoltageBackProBar, unit.inputVoltage);
    u.OutputVoltageBackPro->setText(textOf(unit.outputVoltageText));
    putBar(morlen::Bar::OutputVoltageBackProBar, unit.outputVoltage);
    PageSwitch(u.TabSheet2, {u.TabSheet2, u.TabSheet7});
    enable({u.ModelMinus, u.ModelPlus}, true);
}

void TForm1::FillSmart2ndGen() {
    Ui::TForm1& u = *ui;
    APCUPS& unit = *ups;
    u.SerialNumber->setMaxLength(8);
    setFontColor(u.Memo1, QColor(0, 0, 0));
    for (QWidget* f : {u.ManufactureDate, u.BatteriesReplaseDate, u.ID})
        setBackground(f, Qt::white);
    enable({u.Temperature, u.Label4}, true);
    enable({u.BatSysVolt, u.Label16}, false);
    u.Firmware->show();
    setShown({u.Label5, u.SU36G}, false);
    enable({u.ModelMinus, u.ModelPlus}, false);
    enable({u.Leds, u.Test}, true);
    u.ByPass->setEnabled(false);
    u.Model->setText(textOf(unit.modelName));
    u.Firmware->setText(textOf(unit.firmwareText));
    u.ManufactureDate->setText(textOf(unit.manufactureDate));
    u.BatteriesReplaseDate->setText(textOf(unit.batteryReplaceDate));
    u.ID->setText(textOf(unit.upsId));
    u.SerialNumber->setText(textOf(unit.serialNumber));
    u.Const02nd->setText(textOf(unit.const0Text));
    u.Const52nd->setText(textOf(unit.const5Text));
    u.Const62nd->setText(textOf(unit.const6Text));
    u.Temperature->setText(textOf(unit.temperatureText));
    ShowSettings();

    const int variant = unit.secondGenVariant;
    const bool v2 = variant == 2;
    const bool v1or2 = variant == 1 || variant == 2;
    if (v2)
        u.ModelConst->setText(textOf(unit.modelCode2ndText));
    enable({u.ModelConst, u.Const52nd, u.Const62nd, u.Const02nd, u.Bat2ndMinus, u.SerialNumber,
            u.ManufactureDate, u.Load2ndMinus, u.InputVoltage2ndMinus},
           v2);
    setShown({u.BatSmart2nd, u.LoadSmart2nd, u.InputVoltageConstantSmart2nd}, v2);
    enable({u.BatteriesReplaseDate, u.ID, u.UpVoltageChange2nd, u.LowVoltageChange2nd,
            u.OutVoltageChange2nd, u.ThresholdChange, u.ShutDownDelayChange, u.WakeUpDelayChange,
            u.SelfTestChange, u.SensitivityChange, u.AlarmDelayChange, u.ResetAll,
            u.LowBatWarningChange},
           v1or2);
    if (v1or2)
        u.LowBatWarning->setEnabled(true);

    u.UpVoltage2nd->setText(textOf(unit.highTransferText));
    u.LowVoltage2nd->setText(textOf(unit.lowTransferText));
    u.OutputVoltageConstant2nd->setText(textOf(unit.outputSettingText));
    morlen::ShowSecondGenerationValues(*this, *ups);
    PageSwitch(u.TabSheet3, {u.TabSheet3, u.TabSheet5, u.TabSheet7});
}

void TForm1::FillBackCS() {
    Ui::TForm1& u = *ui;
    APCUPS& unit = *ups;
    u.Graphics->setCurrentIndex(-1);
    u.Graphics->setEnabled(false);
    u.SerialNumber->setMaxLength(14);
    u.Model->setText(textOf(unit.modelName));
    u.Firmware->setText(textOf(unit.firmwareText));
    u.ManufactureDate->setText(textOf(unit.manufactureDate));
    u.BatteriesReplaseDate->setText(textOf(unit.batteryReplaceDate));
    u.SerialNumber->setText(textOf(unit.serialNumber));
    u.Firmware->show();
    setShown({u.Label5, u.SU36G}, false);
    enable({u.ModelPlus, u.ModelMinus, u.LineFrequency, u.ID, u.Label1, u.Temperature, u.Label4,
            u.BatSysVolt, u.Label16, u.ManufactureDate, u.SerialNumber},
           false);
    PageSwitch(u.TabSheet4, {u.TabSheet4});
}

void TForm1::ExtendedConstants(bool restarted) {
    Ui::TForm1& u = *ui;
    APCUPS& unit = *ups;
    if (unit.family != morlen::FamilyBackCS) {
        if (u.HexCodeON->isChecked()) {
            if (unit.family == morlen::FamilySmart2ndGen) {
                if (!restarted && unit.secondGenVariant == 2)
                    ModelCodeStep();
            } else {
                unit.ReadModelCode();
                journalModelCodeRead();
                u.ModelConst->setText(textOf(unit.modelCodeText));
            }
        }
        u.ModelConst->show();
        if (unit.usesConstHash) {
            u.Const_3->show();
            u.Const_3->setText(textOf(unit.constHashText));
        }
        if (unit.noTemperature || unit.isThirdGen || unit.s411FlagA || unit.s411FlagB) {
            setTabShown(u.TabSheet8, true);
            if (unit.isThirdGen) {
                if (!(unit.constDollarText == "NA") && !(unit.s411FlagA && unit.s411FlagB)) {
                    u.Const_4->show();
                    u.Const_4->setText(textOf(unit.constDollarText));
                }
                if (!(unit.constPercentText == "NA")) {
                    u.Const_5->show();
                    u.Const_5->setText(textOf(unit.constPercentText));
                    if (!(unit.constCtrlDText == "NA")) {
                        u.ConstCTRLD->show();
                        u.ConstCTRLD->setText(textOf(unit.constCtrlDText));
                    }
                }
                if (!unit.s411FlagA && !unit.s411FlagB && !(unit.constCaretText == "NA")) {
                    u.Const_6->show();
                    u.Const_6->setText(textOf(unit.constCaretText));
                }
            }
        }
    } else {
        u.ModelConst->hide();
    }
    if (!unit.monitorOnly) {
        enable({u.GroupBox3, u.GroupBox20, u.GroupBox10, u.GroupBox16, u.GroupBox1, u.GroupBox4,
                u.GroupBox5, u.GroupBox21, u.GroupBox22, u.GroupBox11, u.GroupBox13, u.GroupBox7,
                u.Panel4},
               true);
        if (unit.family != morlen::FamilyBackPro && unit.family != morlen::FamilyBackCS &&
            unit.family != morlen::FamilyUnknown) {
            setTabShown(u.TabSheet9, true);
        }
    }
}

void TForm1::ModelCodeStep() {
    APCUPS& unit = *ups;
    unit.ReadModelCode();
    std::memset(codeBuffer, 0, sizeof codeBuffer);
    std::strncpy(codeBuffer, unit.modelCode2ndText.c_str(), 5);
    char next[3];
    if (!morlen::NextModelCode(codeBuffer, next)) {
        // Not a code this step can count on: show it as read and ask for nothing.
        ui->ModelConst->setText(textOf(unit.modelCode2ndText));
        return;
    }
    std::memcpy(codeBuffer, next, sizeof next);
    ui->ModelConst->setText(QString::fromLatin1(codeBuffer));
    post(morlen::Request::ModelCode2ndWalk, '-', ui->ModelConst->text().toStdString());
}

void TForm1::BatteryConstant() {
    std::snprintf(codeBuffer, sizeof codeBuffer, "%02x",
                  static_cast<unsigned>(morlen::BatteryConstantValue(*ups)));
    ui->Const0->setText(QString::fromLatin1(codeBuffer));
    // The field shows the constant in upper case, as the unit answers it.
    post(morlen::Request::Const0Walk, '-', ui->Const0->text().toStdString());
}

void TForm1::PageControl2Change() {
    Ui::TForm1& u = *ui;
    QWidget* page = u.PageControl2->currentWidget();
    if (page == u.Buffer1)
        bufferOffset = 0;
    if (page == u.Buffer2)
        bufferOffset = 256;
    const bool compare = page == u.Compare;
    u.ReadEE->setEnabled(!compare);
    u.CompareEE->setEnabled(compare);
}
