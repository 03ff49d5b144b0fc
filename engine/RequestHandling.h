#pragma once

#include <QString>
#include <functional>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "BatteryService.h"
#include "BatteryWatch.h"
#include "JournalEntry.h"
#include "JournalFeed.h"
#include "Queue.h"
#include "Requests.h"
#include "UnitSettings.h"
#include "View.h"
#include "Walk.h"

namespace morlen {

class APCUPS;
class Tone;

// How the engine reaches the window thread.
class HandOff {
public:
    virtual ~HandOff() = default;
    // Runs `call` on the window thread and waits until it has run.
    virtual void RunOnWindowThread(const std::function<void()>& call) = 0;
    // A close asked the engine to stop: a walk ends after the step under way.
    virtual bool StopRequested() const = 0;
};

// Carries out the requests the window posts, on the poll thread: one row of the dispatch
// table per request (Requests.h says what each does). A byte that names none does nothing. What a
// request shows goes to the view, each time through the hand-off, in its place among the bytes,
// pauses and tones.
class RequestHandler {
public:
    RequestHandler(View& view, APCUPS& ups, Tone& tone, JournalFeed& journal, HandOff& handOff);

    // `target`: for a walk, the text Enter confirmed in its field; `restore`: a restore's plan.
    void Handle(Request request, char argument, std::optional<std::string> target = std::nullopt,
                std::vector<RestoreTarget> restore = {});
    bool Knows(Request request) const { return table_.count(request) != 0; }
    // The battery service's step between passes and its calibration.
    BatteryWatch& battery() { return battery_; }
    // The guided battery service of this connection.
    BatteryService& service() { return service_; }

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
    // Step requests, the stored settings' buttons, meter and model-code walks, text writes,
    // commands.
    void AddStepRows();
    void AddSettingRows();
    void AddMeterRows();
    void AddModelCodeRows();
    void AddTextRows();
    void AddCommandRows();
    // The restore of saved settings.
    void AddRestoreRows();
    void add(Request request, Row row) { table_.emplace(request, std::move(row)); }
    // A constant walk: the constant selected by `select` (its name for the status text),
    // stepped by `tune` toward the target in the request's entry, read back in `field`.
    template <std::size_t N>
    void AddConstant(Request request, char select, const char* name,
                     bool (APCUPS::*tune)(const char*), const FixedText<N>& field);

    // Runs `call` on the window thread with the view; the poll thread waits.
    void onWindow(const std::function<void(View&)>& call);
    QString textOf(Field field);
    void show(Field field, const QString& text);
    void show(Field field, const char* text);
    // Confirmed colour, tone, pause, colour off.
    void Flash(Field field);
    // Confirmed colour, tone, colour off.
    void ShortFlash(Field field);
    // After a text write: confirmed colour, pause, tone, then the value read back, colour off.
    void LateFlash(Field field, const std::function<const char*()>& readBack);
    // A text write the unit took is flashed late; one it did not take only shows the value
    // read back and says so in the status text until the next request begins.
    void ShowTextWrite(Field field, const std::function<const char*()>& readBack);
    void NoteTextRefused();
    void NoteSelectionRefused();
    // Morlen refuses the request itself, before anything is sent: noted, and told the service.
    void Refuse(const QString& why);
    // The confirmation tone; the poll thread waits for its end.
    void Beep();
    // A load reading (its text as returned) on a page, with the watts the unit worked out.
    void ShowLoad(const LoadPlace& place, const char* load);
    // An input reading (its text as returned) and a fresh output reading.
    void ShowInput(const InputPlace& place, const char* inputText);
    // Third generation: the firmware head in its entry, the rest of the firmware as its caption.
    void ShowFirmwareHead();
    // The transfer and output voltages follow the model code, except on a Back-UPS Pro.
    void ShowTransferVoltages();

    // The tuning loop shared by the constant, meter and model-code requests.
    // The target comes from the request's entry.
    struct Walk {
        std::function<bool()> select = nullptr;            // selection sent once, may be empty;
                                                           // false: the unit did not take it
        std::function<bool(const char*)> tune = nullptr;   // one step toward the target
        std::function<const char*()> value = nullptr;      // the value text after a step
        std::function<void()> showIntermediate = nullptr;  // after each step that is not the last
        std::function<void()> showFinal = nullptr;
        int bound = 0;
        std::function<WalkProgress()> progress = nullptr;  // made once the walk is selected
        std::function<bool()> noAnswer = nullptr;          // default: the value text is empty
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

    View& view_;
    APCUPS& ups_;
    Tone& tone_;
    JournalFeed& journal_;
    HandOff& handOff_;
    BatteryWatch battery_;
    BatteryService service_;
    std::unordered_map<Request, Row> table_;
    // How the request being handled ended, where a walk (or a row) has said so.
    RequestEnd end_;
    // The entry of the request being handled (Requests.h) and the target it carries.
    std::optional<Field> entry_;
    std::optional<std::string> confirmed_;
    // The plan carried by the restore request being handled.
    std::vector<RestoreTarget> restorePlan_;
    // The walk's target on its way to the unit: up to five characters and the terminator.
    char codeBuffer_[6] = {};
};

// Two hexadecimal digits and nothing else: what a unit answers for its model code or for a
// calibration constant.
bool IsModelCode(const char* text);

}  // namespace morlen
