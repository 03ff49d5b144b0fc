#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <string>

namespace morlen {

// The window's fields the engine shows values in, each named as its control is in the window's
// form. One list, so the enumerators and the names the window looks up cannot drift apart.
// clang-format off
#define MORLEN_VIEW_FIELDS(X)                                                                     \
    /* Unit information. */                                                                      \
    X(Model) X(Firmware) X(ModelConst) X(BatSysVolt) X(SU36G) X(ManufactureDate)                 \
    X(BatteriesReplaseDate) X(ID) X(SerialNumber) X(LineFrequency) X(Temperature)                \
    /* Calibration constants. */                                                                 \
    X(Const0) X(Const4) X(Const5) X(Const6) X(Const_3) X(Const_4) X(Const_5) X(Const_6)          \
    X(ConstCTRLD) X(Const02nd) X(Const52nd) X(Const62nd)                                         \
    /* Smart-UPS page. */                                                                        \
    X(RunTime) X(BatteryCharged) X(LoadPercent) X(LoadW) X(InputVoltage) X(OutputVoltage)        \
    X(BatteryVoltageSmart) X(BatteryPacks) X(UpTransferVoltage) X(LowTransferVoltage)            \
    X(OutputVoltageConstant) X(LoadSmartConst) X(InputVoltageConstantSmart)                      \
    /* Back-UPS Pro page. */                                                                     \
    X(FloatBackPro) X(Ratio) X(EUTVoltage) X(CapasitorLoad) X(DCOffset) X(BatteryVoltagePRO)     \
    X(BBDVoltage) X(LoadPercentBackPro) X(LoadWBackPro) X(InputVoltageBackPro)                   \
    X(OutputVoltageBackPro) X(InputVoltageConstantBP)                                            \
    /* Second-generation page. */                                                                \
    X(BatteryVoltage2nd) X(RunTime2nd) X(BatteryCharged2nd) X(LoadPercent2nd) X(LoadW2nd)        \
    X(InputVoltage2nd) X(OutputVoltage2nd) X(UpVoltage2nd) X(LowVoltage2nd)                      \
    X(OutputVoltageConstant2nd) X(LoadSmart2nd) X(InputVoltageConstantSmart2nd) X(BatSmart2nd)   \
    /* Back-UPS CS page. */                                                                      \
    X(BackCSVoltage)                                                                             \
    /* Settings page. */                                                                         \
    X(SelfTest) X(ShutDownDelay) X(WakeUpDelay) X(Sensitivity) X(AlarmDelay) X(Threshold)        \
    X(LowBatWarning)                                                                             \
    /* Battery page. */                                                                          \
    X(SelfTestResult) X(TransferCause) X(LineHighest) X(LineLowest) X(LineQuality)               \
    X(CalibrationState)

// The bars that show a reading beside its field.
#define MORLEN_VIEW_BARS(X)                                                                       \
    X(RunTimeBar) X(BatteryChargedBar) X(LoadBar) X(InputVoltageBar) X(OutputVoltageBar)         \
    X(LoadBackProBar) X(InputVoltageBackProBar) X(OutputVoltageBackProBar) X(RunTime2ndBar)      \
    X(BatteryCharged2ndBar) X(Load2ndBar) X(InputVoltage2ndBar) X(OutputVoltage2ndBar)
// clang-format on

#define MORLEN_VIEW_ENUMERATOR(name) name,
enum class Field { MORLEN_VIEW_FIELDS(MORLEN_VIEW_ENUMERATOR) };
enum class Bar { MORLEN_VIEW_BARS(MORLEN_VIEW_ENUMERATOR) };
#undef MORLEN_VIEW_ENUMERATOR

#define MORLEN_VIEW_COUNT(name) +1
inline constexpr int kFieldCount = 0 MORLEN_VIEW_FIELDS(MORLEN_VIEW_COUNT);
inline constexpr int kBarCount = 0 MORLEN_VIEW_BARS(MORLEN_VIEW_COUNT);
#undef MORLEN_VIEW_COUNT

// The control's object name.
const char* NameOf(Field field);
const char* NameOf(Bar bar);

// Where a page shows a load reading, and where an input reading with the output beside it.
struct LoadPlace {
    Field percent, watts;
    Bar bar;
};
struct InputPlace {
    Field input;
    Bar inputBar;
    Field output;
    Bar outputBar;
};
inline constexpr LoadPlace kSmartLoad{Field::LoadPercent, Field::LoadW, Bar::LoadBar};
inline constexpr LoadPlace kBackProLoad{Field::LoadPercentBackPro, Field::LoadWBackPro,
                                        Bar::LoadBackProBar};
inline constexpr LoadPlace kSecondGenLoad{Field::LoadPercent2nd, Field::LoadW2nd, Bar::Load2ndBar};
inline constexpr InputPlace kSmartInput{Field::InputVoltage, Bar::InputVoltageBar,
                                        Field::OutputVoltage, Bar::OutputVoltageBar};
inline constexpr InputPlace kBackProInput{Field::InputVoltageBackPro, Bar::InputVoltageBackProBar,
                                          Field::OutputVoltageBackPro,
                                          Bar::OutputVoltageBackProBar};
inline constexpr InputPlace kSecondGenInput{Field::InputVoltage2nd, Bar::InputVoltage2ndBar,
                                            Field::OutputVoltage2nd, Bar::OutputVoltage2ndBar};

// The unit's four status registers as the "Status" page shows them, bit 0 first.
struct StatusRegisters {
    std::uint8_t register1, register2, register3, status;
};

// The readings of one pass the charts may plot; the window picks and scales the pair its graph
// choice names.
struct ChartReadings {
    float inputVoltage;
    std::string batteryCapacityText;
    unsigned runTimeMinutes;
    float loadPercent;
    float outputVoltage;
};

// What the start check of a runtime calibration found: every condition that fails, named, and
// what it warns of. The calibration starts only when nothing fails.
struct CalibrationCheck {
    QStringList failing;
    QStringList warnings;
    unsigned runTimeMinutes = 0;
    // How long the unit is expected to run on battery, and the bound Morlen gives it.
    unsigned expectedMinutes = 0;
    unsigned boundMinutes = 0;
};

// The steps of the guided battery service, in their order.
enum class ServiceStep { Before, Date, SelfTest, Calibration, After, Done };

// What the battery service has read and done so far; the window shows it and writes the report
// from it. Empty texts: not done (yet).
struct ServiceState {
    // The step the technician runs next.
    ServiceStep next = ServiceStep::Before;
    // A wait is under way (the self-test's result); the window offers nothing but a stop.
    bool waiting = false;
    QString model, serialNumber, firmware;
    // The journal's name for this connection: the settings changed during it are its entries.
    QString connection;
    // "label=value" lines (journal::FormatValues form): date, charge, run time, self-test
    // result, replace-battery flag.
    QString before, after;
    QString oldDate, newDate, dateOutcome;
    // The date the date step proposes: today in the unit's own form.
    QString proposedDate;
    QString selfTestResult;
    // The calibration's start conditions, its course (one line a shown progress, bounded) and
    // how it ended, as the guarded calibration reported them.
    QString calibrationStart;
    QStringList calibrationCourse;
    QString calibrationEnd;
    // The last thing the service said, for the window to show.
    QString message;
    // The link to the unit was lost: nothing more can be sent in this service.
    bool linkLost = false;
};

// Why `typed` is not a battery date to write to a unit whose own date is `unitDate`: a date of
// the calendar as MM/DD/YY with the unit's own separator. Empty when it is one.
QString ServiceDateProblem(const QString& typed, const QString& unitDate);

// What the engine asks the window to show, and the little it reads back from it. Each
// operation says what, the window decides how: colours, repaints, the captions that travel
// with a field and the bars' ranges are its own.
//
// Every operation runs on the window thread. The poll thread reaches them through its blocking
// hand-off and waits meanwhile, so what is shown keeps its place among the bytes on the line,
// the pauses and the tones.
class View {
public:
    virtual ~View() = default;

    // ---- Fields ----
    virtual void putText(Field field, const QString& text) = 0;
    virtual QString fieldText(Field field) const = 0;
    // The caption that goes with a field (the firmware head's shows the rest of the firmware).
    virtual void putCaption(Field field, const QString& text) = 0;
    // The confirmed colour on or off, shown at once.
    virtual void flash(Field field, bool on) = 0;
    virtual void putBar(Bar bar, float value) = 0;
    // A load reading: its percent and watts texts and its bar; the window marks an overload.
    virtual void showLoad(const LoadPlace& place, const QString& percent, const QString& watts,
                          float loadPercent) = 0;
    // An input reading and the output reading beside it, each with its bar.
    virtual void showInput(const InputPlace& place, const QString& input, float inputVolts,
                           const QString& output, float outputVolts) = 0;

    // ---- The request under way ----
    // How the last request ended where it did not do what was asked; shown until the next
    // request begins.
    virtual void showRequestNote(const QString& text) = 0;
    virtual void clearRequestNote() = 0;
    virtual QString requestNote() const = 0;
    // The unit's values as last read are settled: what the window keeps of them (what Esc puts
    // back, what is saved) may be taken now. Also at the start, before the first request.
    virtual void unitSettled() = 0;
    // A request is over: what it held still is free again.
    virtual void requestEnded() = 0;

    // ---- EEPROM ----
    // A read begins: the buffer choice is held until the request ends, and a progress of
    // `steps` steps is prepared. Returns the chosen buffer's offset in the unit's image.
    virtual std::uint16_t beginEepromRead(int steps) = 0;
    virtual void showEepromProgress(int step) = 0;
    // The read is over, `unread` of its replies no byte: the progress goes, the dump comes.
    virtual void endEepromRead(int unread) = 0;
    // The save dialog (with its questions) and the comparison of the two buffers.
    virtual void saveEeprom() = 0;
    virtual void compareEeprom() = 0;

    // ---- The pass ----
    // The "Status" page is in front: a pass reads the status registers, not the live values.
    virtual bool statusPageShown() const = 0;
    // The "Battery" page is in front: from then on the battery service reads its values.
    virtual bool batteryPageShown() const = 0;
    virtual void showLinkLamp(bool answered) = 0;
    virtual void showStatusRegisters(const StatusRegisters& registers) = 0;
    virtual void addChartPoints(const ChartReadings& readings) = 0;
    // The display refresh of a pass is complete.
    virtual void refreshEnded() = 0;
    // The unit stopped answering: the window goes back to its disconnected look.
    virtual void showLostConnection() = 0;

    // ---- Runtime calibration ----
    // Asked only when no start condition fails: the technician confirms twice, told the
    // expected duration, the warnings and that the battery will be run down. True to start.
    virtual bool confirmCalibration(const CalibrationCheck& check) = 0;
    // The unit is calibrating as the connection begins: true when the technician wants it
    // aborted.
    virtual bool offerCalibrationAbort() = 0;

    // ---- Battery service ----
    // The guided service's state after each of its steps and waits.
    virtual void showService(const ServiceState& state) = 0;
};

}  // namespace morlen
