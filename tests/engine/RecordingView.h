#pragma once

#include <QString>
#include <QTemporaryDir>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "Apcups.h"
#include "DisplayRefresh.h"
#include "Journal.h"
#include "JournalFeed.h"
#include "LoggedTone.h"
#include "Profile.h"
#include "RequestHandling.h"
#include "Requests.h"
#include "SimUps.h"
#include "Tone.h"
#include "View.h"
#include "WireLog.h"

namespace morlen::test {

// A view that notes what the engine shows in a wire log, in its place among the line's
// transactions, pauses and tones: "Model=SMART-UPS 420", "LoadBar:24", "flash LoadW on",
// "note:...". It keeps the fields' texts, so the engine reads back what a test typed.
class RecordingView final : public View {
public:
    explicit RecordingView(WireLog& log) : log_(log) {}

    // A field's text as the technician types it: not noted.
    void type(Field field, const QString& text) { texts_[field] = text; }
    std::optional<QString> textIn(Field field) const {
        const auto found = texts_.find(field);
        return found == texts_.end() ? std::nullopt : std::optional<QString>(found->second);
    }

    // What the window would be asked besides what it shows.
    bool statusPage = false;
    bool lamp = false;
    int settled = 0, ended = 0, refreshes = 0;
    QString note;

    void putText(Field field, const QString& text) override {
        texts_[field] = text;
        log_.note(std::string(NameOf(field)) + "=" + text.toStdString());
    }
    QString fieldText(Field field) const override { return textIn(field).value_or(QString()); }
    void putCaption(Field field, const QString& text) override {
        log_.note(std::string(NameOf(field)) + " caption=" + text.toStdString());
    }
    void flash(Field field, bool on) override {
        log_.note("flash " + std::string(NameOf(field)) + (on ? " on" : " off"));
    }
    void putBar(Bar bar, float value) override {
        log_.note(std::string(NameOf(bar)) + ":" + QString::number(value).toStdString());
    }
    void showLoad(const LoadPlace& place, const QString& percent, const QString& watts,
                  float loadPercent) override {
        putText(place.percent, percent);
        putText(place.watts, watts);
        putBar(place.bar, loadPercent);
    }
    void showInput(const InputPlace& place, const QString& input, float inputVolts,
                   const QString& output, float outputVolts) override {
        putText(place.input, input);
        putBar(place.inputBar, inputVolts);
        putText(place.output, output);
        putBar(place.outputBar, outputVolts);
    }
    void showRequestNote(const QString& text) override {
        note = text;
        log_.note("note:" + text.toStdString());
    }
    void clearRequestNote() override { note.clear(); }
    QString requestNote() const override { return note; }
    void unitSettled() override { ++settled; }
    void requestEnded() override { ++ended; }
    std::uint16_t beginEepromRead(int steps) override {
        log_.note("eeprom " + std::to_string(steps) + " steps");
        return 0;
    }
    void showEepromProgress(int) override {}
    void endEepromRead(int unread) override {
        log_.note("eeprom unread " + std::to_string(unread));
    }
    void saveEeprom() override { log_.note("save eeprom"); }
    void compareEeprom() override { log_.note("compare eeprom"); }
    bool statusPageShown() const override { return statusPage; }
    bool batteryPage = false;
    bool batteryPageShown() const override { return batteryPage; }
    void showLinkLamp(bool answered) override { lamp = answered; }
    void showStatusRegisters(const StatusRegisters& r) override {
        log_.note("registers " + std::to_string(r.register1) + " " + std::to_string(r.register2) +
                  " " + std::to_string(r.register3) + " " + std::to_string(r.status));
    }
    void addChartPoints(const ChartReadings& r) override {
        log_.note("chart " + QString::number(r.inputVoltage).toStdString() + " " +
                  r.batteryCapacityText + " " + std::to_string(r.runTimeMinutes) + " " +
                  QString::number(r.loadPercent).toStdString() + " " +
                  QString::number(r.outputVoltage).toStdString());
    }
    void refreshEnded() override { ++refreshes; }
    void showLostConnection() override { log_.note("lost connection"); }
    // The technician's answers to the calibration's questions.
    bool confirmAnswer = true, abortAnswer = true;
    std::function<void()> whileConfirming;  // what happens at the unit meanwhile
    bool confirmCalibration(const CalibrationCheck& check) override {
        if (whileConfirming)
            whileConfirming();
        log_.note("confirm calibration " + std::to_string(check.expectedMinutes) + "/" +
                  std::to_string(check.boundMinutes) + " min" +
                  (check.warnings.isEmpty() ? "" : " warned"));
        return confirmAnswer;
    }
    bool offerCalibrationAbort() override {
        log_.note("offer abort");
        return abortAnswer;
    }
    // The battery service as last shown, and each of its messages in the log.
    ServiceState service;
    void showService(const ServiceState& state) override {
        service = state;
        log_.note("service:" + state.message.toStdString());
    }

private:
    WireLog& log_;
    std::map<Field, QString> texts_;
};

// The engine alone, no window and no poll thread: the request handling with a recording view
// on a simulated unit whose readings hold still, identified as the connection step leaves it.
// Every transaction, pause, tone and view call goes into one log; a hand-off runs its call
// where it is, and is counted.
class ViewRig final : public HandOff {
public:
    explicit ViewRig(const std::string& profile,
                     const std::function<void(sim::Profile&)>& change = nullptr)
        : log_(clock_), view_(log_), tone_(log_, clock_) {
        sim::Profile chosen = *sim::FindProfile(profile);
        if (change)
            change(chosen);
        unit_ = std::make_unique<sim::SimUps>(clock_, chosen);
        unit_->model().setDrift(false);
        ups_ = std::make_unique<APCUPS>(unit_->makeLine(), log_.clock());
        ups_->OpenPort("COM1");
        ups_->CheckSmartMode();
        ups_->Identify();
        log_.attach(*ups_);
        handler_ = std::make_unique<RequestHandler>(view_, *ups_, tone_, journal_, *this);
        log_.take();
    }

    // Carries out one request as the poll thread does and returns its log. A walk carries the
    // text of its entry, as Enter confirmed it.
    std::string handle(Request request, char argument = '-', std::vector<RestoreTarget> plan = {}) {
        const RequestInfo* info = InfoOf(request);
        std::optional<std::string> target;
        if (info != nullptr && info->does == Does::Walk)
            target = view_.fieldText(*info->entry).toStdString();
        handOffs = 0;
        handler_->Handle(request, argument, target, std::move(plan));
        return log_.take();
    }
    // The reads of one pass and its display refresh, as the poll thread makes them; returns
    // their log.
    std::string pass() {
        if (view_.statusPage)
            ups_->ReadStatusRegisters();
        else
            ups_->ReadMeasurements();
        RefreshDisplay(view_, *ups_);
        return log_.take();
    }

    // Carries out a request that brings its text (a walk's target, the service's date).
    std::string handle(Request request, const std::string& text) {
        handler_->Handle(request, '-', text);
        return log_.take();
    }
    // The service journal, on from here as if the connection had just begun; its entries
    // newest first once written.
    void openJournal() {
        journalDir_ = std::make_unique<QTemporaryDir>();
        noJournal_ = std::make_unique<journal::Journal>(journalDir_->path() + "/journal.sqlite");
        journal_.ConnectionOpened(QStringLiteral("COM1"));
        journal_.ConnectionBegun(*ups_, QStringLiteral("Connected"), {});
    }
    QList<journal::Entry> entries() {
        noJournal_->Flush();
        return noJournal_->Entries();
    }

    RequestHandler& handler() { return *handler_; }
    RecordingView& view() { return view_; }
    APCUPS& ups() { return *ups_; }
    sim::SimUps& unit() { return *unit_; }
    WireLog& log() { return log_; }
    int handOffs = 0;

    void RunOnWindowThread(const std::function<void()>& call) override {
        ++handOffs;
        call();
    }
    bool StopRequested() const override { return false; }

private:
    VirtualClock clock_;
    WireLog log_;
    RecordingView view_;
    LoggedTone tone_;
    std::unique_ptr<QTemporaryDir> journalDir_;
    std::unique_ptr<journal::Journal> noJournal_;
    JournalFeed journal_{noJournal_};
    std::unique_ptr<sim::SimUps> unit_;
    std::unique_ptr<APCUPS> ups_;
    std::unique_ptr<RequestHandler> handler_;
};

}  // namespace morlen::test
