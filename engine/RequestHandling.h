#pragma once

#include <QString>
#include <functional>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "JournalEntry.h"
#include "Queue.h"
#include "Walk.h"

class QLineEdit;
class QProgressBar;
class QWidget;
class TForm1;

namespace morlen {

class APCDynamicData;
class APCUPS;

// Puts back the settings of the plan the request carries, one after another, each with the
// step operation of its own button.
constexpr char kRestoreSettingsRequest = 'T';

// Carries out the requests the window posts, on the poll thread: one row of the dispatch
// table per request code. A code without a row does nothing. Every control is touched on the
// window thread through the poll thread's synchronous hand-off.
class RequestHandler {
public:
    RequestHandler(TForm1& form, APCDynamicData& thread);

    // `target`: for a walk, the text Enter confirmed in its field; `restore`: a restore's plan.
    void Handle(char code, char argument, std::optional<std::string> target = std::nullopt,
                std::vector<RestoreTarget> restore = {});
    bool Knows(char code) const { return table_.count(code) != 0; }

    // What the status bar says when a walk ends at its step bound.
    static QString BoundReachedText(int steps);
    // What it says for a walk that ended without reaching its target; empty when it did.
    static QString WalkEndText(const WalkResult& walk);
    // How a walk ended, as the journal records it.
    static journal::Outcome WalkOutcome(const WalkResult& walk);
    // What it says for a walk whose field no longer held its confirmed target.
    static QString TargetChangedText();
    // What it says when the unit did not take a selection (`reply` as it answered, empty for
    // no answer): nothing that only means something after it was sent.
    static QString SelectionRefusedText(const char* what, const char* reply);

private:
    using Row = std::function<void(char argument)>;
    // The EEPROM page's requests: read into the shown buffer, save, compare.
    void AddEepromRows();
    // Step requests, the "Change" buttons, meter and model-code walks, text writes, commands.
    void AddStepRows();
    void AddChangeRows();
    void AddMeterRows();
    void AddModelCodeRows();
    void AddTextRows();
    void AddCommandRows();
    // The restore of saved settings.
    void AddRestoreRows();
    void add(char code, Row row) { table_.emplace(code, std::move(row)); }

    // What the journal records of a request: its name as the window labels it and what it
    // changes, as the unit last read it back. A code without one is not recorded.
    struct JournalRow {
        enum class Style {
            Value,     // one value, before and after
            Settings,  // the ten stored settings, before and after
            Command,   // a one-shot command: its reply
            Eeprom,    // a read of the EEPROM: no value, how complete it was
        };
        const char* what;
        Style style;
        std::function<const char*()> value;  // Value only
    };
    void AddJournalRows();
    QString JournalValue(const JournalRow& row) const;
    // `note` is the request note the request left, empty when none.
    void RecordInJournal(const JournalRow& row, const QString& before, const QString& note);

    // Window-thread helpers.
    QString textOf(QLineEdit* entry);
    void setText(QLineEdit* entry, const char* text);
    // Green font, tone, pause, black font.
    void Flash(QWidget* control);
    // Green font, tone, black font.
    void ShortFlash(QWidget* control);
    // After a text write: green font, pause, tone, black font, then the value read back.
    void LateFlash(QLineEdit* entry, const std::function<const char*()>& readBack);
    // A text write the unit took is flashed late; one it did not take only shows the value
    // read back and says so in the status text until the next request begins.
    void ShowTextWrite(QLineEdit* entry, const std::function<const char*()>& readBack);
    void NoteTextRefused();
    void NoteSelectionRefused();
    // The confirmation tone; the poll thread waits for its end.
    void Beep();
    // A load reading (its text as returned) on a percent entry, a watts entry and a bar, with
    // the load colours.
    void ShowLoad(QLineEdit* percent, QLineEdit* watts, QProgressBar* bar, const char* load);
    // An input reading (its text as returned) and a fresh output reading, with their bars.
    void ShowInput(QLineEdit* input, QProgressBar* inputBar, QLineEdit* output,
                   QProgressBar* outputBar, const char* inputText);
    // Third generation: the firmware head in its entry, the rest of the firmware as its caption.
    void ShowFirmwareHead();
    // The transfer and output voltages follow the model code, except on a Back-UPS Pro.
    void ShowTransferVoltages();

    // The tuning loop shared by the constant, meter and model-code requests.
    struct Walk {
        QLineEdit* entry;                        // the target's entry
        std::function<bool()> select;            // selection sent once, may be empty;
                                                 // false: the unit did not take it
        std::function<bool(const char*)> tune;   // one step toward the target
        std::function<const char*()> value;      // the value text after a step
        std::function<void()> showIntermediate;  // after each step that is not the last
        std::function<void()> showFinal;
        int bound;
        std::function<WalkProgress()> progress;  // made once the walk is selected
        std::function<bool()> noAnswer;          // default: the value text is empty
    };
    // Runs the walk, shows its final value and, when it did not reach its target, says so in
    // the status text until the next request begins. Nothing when the entry no longer holds
    // the confirmed target: then nothing was sent, and the status text says so.
    std::optional<WalkResult> RunTuning(const Walk& walk);
    // How a meter walk toward the target in the code buffer tells progress from the
    // reading's own wander.
    WalkProgress MeterProgress(std::function<double()> reading, double wander);
    void ReportWalkEnd(const WalkResult& walk);
    // Only a walk that reached its target is confirmed (green flash and tone).
    static bool Confirmed(const WalkResult& walk) { return walk.end == WalkEnd::Reached; }

    TForm1& form_;
    APCDynamicData& thread_;
    APCUPS& ups_;
    std::unordered_map<char, Row> table_;
    std::unordered_map<char, JournalRow> journalRows_;
    // How the request being handled ended, where a walk (or a row) has said so.
    std::optional<journal::Outcome> outcome_;
    QString outcomeReason_;
    // The target carried by the request being handled.
    std::optional<std::string> confirmed_;
    // The plan carried by the restore request being handled.
    std::vector<RestoreTarget> restorePlan_;
};

// Two hexadecimal digits and nothing else: what a unit answers for its model code or for a
// calibration constant.
bool IsModelCode(const char* text);

}  // namespace morlen
