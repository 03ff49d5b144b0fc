#pragma once

#include <QLineEdit>
#include <QPalette>
#include <QTabWidget>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "EngineBench.h"
#include "LoggedTone.h"
#include "Profile.h"
#include "Tone.h"
#include "WireLog.h"

namespace morlen::test {

// The real window on a simulated unit whose readings hold still, with every transaction,
// pause and tone of the program in one log. A changed profile gets a unit of its own.
class WireRig {
public:
    explicit WireRig(const std::string& profile,
                     const std::function<void(sim::Profile&)>& change = nullptr)
        : bench_(std::make_unique<EngineBench>(profile)), log_(bench_->clock()) {
        sim::SimUps* unit = &bench_->unit();
        if (change) {
            sim::Profile changed = *sim::FindProfile(profile);
            change(changed);
            own_ = std::make_unique<sim::SimUps>(bench_->clock(), changed);
            unit = own_.get();
        }
        unit->model().setDrift(false);
        TForm1& form = bench_->form();
        form.ups = std::make_unique<APCUPS>(unit->makeLine(), log_.clock());
        log_.attach(*form.ups);
        form.tone = std::make_unique<LoggedTone>(log_, bench_->clock());
        bench_->connectUnit();
    }
    ~WireRig() { bench_.reset(); }  // the window closes while the unit still answers

    EngineBench& bench() { return *bench_; }
    TForm1& form() { return bench_->form(); }
    Ui::TForm1& ui() { return bench_->ui(); }
    APCUPS& ups() { return *bench_->form().ups; }
    WireLog& log() { return log_; }

    // Shows the "Status" page, runs `prepare` and posts `requests` at one display refresh, runs
    // `look` at the next and returns the log of the pass between them without the pass's own
    // reads (the link check of the pass before, then the four registers).
    std::string statusPass(const std::vector<std::pair<char, char>>& requests,
                           const std::function<void()>& look = nullptr,
                           const std::function<void()>& prepare = nullptr) {
        std::size_t from = 0;
        std::string wire;
        const bool refreshed = bench_->atRefreshes({
            [&] {
                ui().PageControl1->setCurrentWidget(ui().TabSheet6);
                if (prepare)
                    prepare();
                from = log_.size();
                for (const auto& [code, argument] : requests)
                    PostRequest(form(), code, argument);
            },
            [&] {
                wire = log_.since(from);
                if (look)
                    look();
            },
        });
        EXPECT_TRUE(refreshed);
        const std::string reads = "Y/2 ~/2 '/2 8/2 Q/2";
        EXPECT_EQ(wire.substr(0, reads.size()), reads) << wire;
        if (wire.size() <= reads.size())
            return "";
        return wire.substr(reads.size() + 1);
    }

private:
    std::unique_ptr<EngineBench> bench_;
    std::unique_ptr<sim::SimUps> own_;
    WireLog log_;
};

// Confirmations as the program gives them.
const std::string kTone = "tone2000/500";
const std::string kFlash = kTone + " ~500";
const std::string kLateFlash = "~500 " + kTone;

}  // namespace morlen::test
