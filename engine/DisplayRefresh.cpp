#include "DisplayRefresh.h"

#include "Apcups.h"
#include "View.h"

namespace morlen {

namespace {

template <std::size_t N>
QString text(const FixedText<N>& field) {
    return QString::fromLatin1(field.c_str());
}

void ShowFamilyPage(View& view, APCUPS& ups) {
    switch (ups.family) {
        case FamilySmartNoSerial:
            view.putText(Field::LineFrequency, text(ups.lineFrequencyText));
            ShowInputAndOutput(view, ups);
            view.putText(Field::BatteryVoltageSmart, QString::fromLatin1(ups.ReadBatteryVoltage()));
            break;
        case FamilySmart:
            view.putText(Field::LineFrequency, text(ups.lineFrequencyText));
            view.putText(Field::RunTime, text(ups.runTimeText));
            view.putBar(Bar::RunTimeBar, float(ups.runTimeMinutes));
            view.putText(Field::BatteryCharged, text(ups.batteryCapacityText));
            view.putBar(Bar::BatteryChargedBar, ups.batteryCapacity);
            view.showLoad(kSmartLoad, text(ups.loadPercentText), text(ups.loadWattsText),
                          ups.loadPercent);
            ShowInputAndOutput(view, ups);
            view.putText(Field::BatteryVoltageSmart, QString::fromLatin1(ups.ReadBatteryVoltage()));
            if (!ups.noTemperature && !ups.isStack)
                view.putText(Field::Temperature, text(ups.temperatureText));
            break;
        case FamilyBackPro:
            if (ups.ratingDigits != 4) {
                view.putText(Field::FloatBackPro, text(ups.floatVoltageText));
                view.putText(Field::Ratio, text(ups.ratioText));
                view.putText(Field::EUTVoltage, text(ups.eutVoltageText));
                view.putText(Field::CapasitorLoad, text(ups.capacitorLoadText));
                view.putText(Field::DCOffset, text(ups.dcOffsetText));
            }
            view.putText(Field::BatteryVoltagePRO, text(ups.batteryVoltageText));
            view.putText(Field::BBDVoltage, text(ups.bbdVoltageText));
            view.showLoad(kBackProLoad, text(ups.loadPercentText), text(ups.loadWattsText),
                          ups.loadPercent);
            view.showInput(kBackProInput, text(ups.inputVoltageText), ups.inputVoltage,
                           text(ups.outputVoltageText), ups.outputVoltage);
            break;
        case FamilySmart2ndGen:
            view.putText(Field::LineFrequency, text(ups.lineFrequencyText));
            ShowSecondGenerationValues(view, ups);
            view.putText(Field::Temperature, text(ups.temperatureText));
            break;
        case FamilyBackCS:
            view.putText(Field::BackCSVoltage, text(ups.batteryVoltageText));
            return;  // no chart points for these units
        default:
            break;
    }
    view.addChartPoints({.inputVoltage = ups.inputVoltage,
                         .batteryCapacityText = ups.batteryCapacityText.str(),
                         .runTimeMinutes = ups.runTimeMinutes,
                         .loadPercent = ups.loadPercent,
                         .outputVoltage = ups.outputVoltage});
}

}  // namespace

void ShowInputAndOutput(View& view, const APCUPS& ups) {
    view.showInput(kSmartInput, text(ups.inputVoltageText), ups.inputVoltage,
                   text(ups.outputVoltageText), ups.outputVoltage);
}

void ShowSecondGenerationValues(View& view, const APCUPS& ups) {
    view.putText(Field::BatteryVoltage2nd, text(ups.batteryVoltageText));
    view.putText(Field::RunTime2nd, text(ups.runTimeText));
    view.putBar(Bar::RunTime2ndBar, float(ups.runTimeMinutes));
    view.putText(Field::BatteryCharged2nd, text(ups.batteryCapacityText));
    view.putBar(Bar::BatteryCharged2ndBar, ups.batteryCapacity);
    view.showLoad(kSecondGenLoad, text(ups.loadPercentText), text(ups.loadWattsText),
                  ups.loadPercent);
    view.showInput(kSecondGenInput, text(ups.inputVoltageText), ups.inputVoltage,
                   text(ups.outputVoltageText), ups.outputVoltage);
}

void RefreshDisplay(View& view, APCUPS& ups) {
    // The lamp follows the link check of the last pass.
    view.showLinkLamp(ups.smartModeOk);
    if (view.statusPageShown()) {
        view.showStatusRegisters({.register1 = ups.register1,
                                  .register2 = ups.register2,
                                  .register3 = ups.register3,
                                  .status = ups.statusByte});
    } else {
        ShowFamilyPage(view, ups);
    }
    view.refreshEnded();
}

}  // namespace morlen
