#include "DisplayRefresh.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <algorithm>

#include "GraphPage.h"
#include "Performancegraph.h"
#include "Tag.h"
#include "Unit1.h"

namespace morlen {

namespace {

void showBits(std::uint8_t byte, std::initializer_list<QCheckBox*> boxes) {
    int bit = 0;
    for (QCheckBox* box : boxes) {
        const bool set = (byte >> bit) & 1;
        box->setChecked(set);
        box->setEnabled(set);
        ++bit;
    }
}

}  // namespace

void SetBarPosition(QProgressBar* bar, float value) {
    bar->setValue(int(std::clamp(Truncate(value), long(bar->minimum()), long(bar->maximum()))));
}

void SetFieldColour(QWidget* field, const QColor& colour) {
    TForm1::setFontColor(field, colour);
    if (field->parentWidget() == nullptr)
        return;
    for (QLabel* label : field->parentWidget()->findChildren<QLabel*>(Qt::FindDirectChildrenOnly))
        if (label->buddy() == field)
            TForm1::setFontColor(label, colour);
}

void ShowInputAndOutput(TForm1& form) {
    Ui::TForm1& ui = *form.ui;
    const APCUPS& ups = *form.ups;
    ui.InputVoltage->setText(QString::fromLatin1(ups.inputVoltageText.c_str()));
    SetBarPosition(ui.InputVoltageBar, ups.inputVoltage);
    ui.OutputVoltage->setText(QString::fromLatin1(ups.outputVoltageText.c_str()));
    SetBarPosition(ui.OutputVoltageBar, ups.outputVoltage);
}

void ShowSecondGenerationValues(TForm1& form) {
    Ui::TForm1& ui = *form.ui;
    const APCUPS& ups = *form.ups;
    const auto text = [](const auto& field) { return QString::fromLatin1(field.c_str()); };
    ui.BatteryVoltage2nd->setText(text(ups.batteryVoltageText));
    ui.RunTime2nd->setText(text(ups.runTimeText));
    SetBarPosition(ui.RunTime2ndBar, ups.runTimeMinutes);
    ui.BatteryCharged2nd->setText(text(ups.batteryCapacityText));
    SetBarPosition(ui.BatteryCharged2ndBar, ups.batteryCapacity);
    ui.LoadPercent2nd->setText(text(ups.loadPercentText));
    SetBarPosition(ui.Load2ndBar, ups.loadPercent);
    ui.LoadW2nd->setText(text(ups.loadWattsText));
    ui.InputVoltage2nd->setText(text(ups.inputVoltageText));
    SetBarPosition(ui.InputVoltage2ndBar, ups.inputVoltage);
    ui.OutputVoltage2nd->setText(text(ups.outputVoltageText));
    SetBarPosition(ui.OutputVoltage2ndBar, ups.outputVoltage);
}

void ColourLoad(TForm1&, float loadPercent, QWidget* percent, QWidget* watts) {
    const QColor colour = loadPercent >= 100.0f ? QColor(255, 0, 0) : QColor(0, 0, 0);
    SetFieldColour(percent, colour);
    SetFieldColour(watts, colour);
}

namespace {
void RefreshPage(TForm1& form);
}

void RefreshDisplay(TForm1& form) {
    RefreshPage(form);
    emit form.displayRefreshed();
}

namespace {

void RefreshPage(TForm1& form) {
    Ui::TForm1& ui = *form.ui;
    APCUPS& ups = *form.ups;
    // The lamp follows the link check of the last pass.
    form.lampOk = ups.smartModeOk;
    ui.StatusBar1->update();

    if (form.activePage() == ui.TabSheet6) {
        showBits(ups.register1, {ui.CheckBox9, ui.CheckBox10, ui.CheckBox11, ui.CheckBox12,
                                 ui.CheckBox13, ui.CheckBox14, ui.CheckBox15, ui.CheckBox16});
        showBits(ups.register2, {ui.CheckBox17, ui.CheckBox18, ui.CheckBox19, ui.CheckBox20,
                                 ui.CheckBox21, ui.CheckBox22, ui.CheckBox23, ui.CheckBox24});
        showBits(ups.register3, {ui.CheckBox1, ui.CheckBox2, ui.CheckBox3, ui.CheckBox4,
                                 ui.CheckBox5, ui.CheckBox6, ui.CheckBox7, ui.CheckBox8});
        showBits(ups.statusByte, {ui.CheckBox25, ui.CheckBox26, ui.CheckBox27, ui.CheckBox28,
                                  ui.CheckBox29, ui.CheckBox30, ui.CheckBox31, ui.CheckBox32});
        return;
    }

    const auto text = [](const auto& field) { return QString::fromLatin1(field.c_str()); };
    switch (ups.family) {
        case FamilySmartNoSerial:
            ui.LineFrequency->setText(text(ups.lineFrequencyText));
            ShowInputAndOutput(form);
            ui.BatteryVoltageSmart->setText(QString::fromLatin1(ups.ReadBatteryVoltage()));
            break;
        case FamilySmart:
            ui.LineFrequency->setText(text(ups.lineFrequencyText));
            ui.RunTime->setText(text(ups.runTimeText));
            SetBarPosition(ui.RunTimeBar, ups.runTimeMinutes);
            ui.BatteryCharged->setText(text(ups.batteryCapacityText));
            SetBarPosition(ui.BatteryChargedBar, ups.batteryCapacity);
            ui.LoadPercent->setText(text(ups.loadPercentText));
            ColourLoad(form, ups.loadPercent, ui.LoadPercent, ui.LoadW);
            ui.LoadW->setText(text(ups.loadWattsText));
            SetBarPosition(ui.LoadBar, ups.loadPercent);
            ui.LoadBar->repaint();
            ShowInputAndOutput(form);
            ui.BatteryVoltageSmart->setText(QString::fromLatin1(ups.ReadBatteryVoltage()));
            if (!ups.noTemperature && !ups.isStack)
                ui.Temperature->setText(text(ups.temperatureText));
            break;
        case FamilyBackPro:
            if (ups.ratingDigits != 4) {
                ui.FloatBackPro->setText(text(ups.floatVoltageText));
                ui.Ratio->setText(text(ups.ratioText));
                ui.EUTVoltage->setText(text(ups.eutVoltageText));
                ui.CapasitorLoad->setText(text(ups.capacitorLoadText));
                ui.DCOffset->setText(text(ups.dcOffsetText));
            }
            ui.BatteryVoltagePRO->setText(text(ups.batteryVoltageText));
            ui.BBDVoltage->setText(text(ups.bbdVoltageText));
            ui.LoadPercentBackPro->setText(text(ups.loadPercentText));
            ColourLoad(form, ups.loadPercent, ui.LoadPercentBackPro, ui.LoadWBackPro);
            SetBarPosition(ui.LoadBackProBar, ups.loadPercent);
            ui.LoadWBackPro->setText(text(ups.loadWattsText));
            ui.InputVoltageBackPro->setText(text(ups.inputVoltageText));
            SetBarPosition(ui.InputVoltageBackProBar, ups.inputVoltage);
            ui.OutputVoltageBackPro->setText(text(ups.outputVoltageText));
            SetBarPosition(ui.OutputVoltageBackProBar, ups.outputVoltage);
            break;
        case FamilySmart2ndGen:
            ui.LineFrequency->setText(text(ups.lineFrequencyText));
            ShowSecondGenerationValues(form);
            ColourLoad(form, ups.loadPercent, ui.LoadPercent2nd, ui.LoadW2nd);
            ui.Temperature->setText(text(ups.temperatureText));
            break;
        case FamilyBackCS:
            ui.BackCSVoltage->setText(text(ups.batteryVoltageText));
            return;  // no chart points for these units
        default:
            break;
    }

    const GraphPoints points =
        pointsFor(tagOf(ui.GroupBox26), ups.inputVoltage, ups.batteryCapacityText.c_str(),
                  ups.runTimeMinutes, ups.loadPercent, ups.outputVoltage);
    if (points.add) {
        ui.KPerformanceGraph1->UpdateData(points.graph1);
        ui.KPerformanceGraph2->UpdateData(points.graph2);
    }
}

}  // namespace

}  // namespace morlen
