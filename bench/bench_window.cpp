// morlen-bench-window: the whole program polling a Smart-UPS at line speed.
//
// Starts morlen-upssim on COM1, opens the real window (offscreen), connects as a technician
// does, and lets the poll thread run. Reports the median pass time against what the line
// allows, the window thread's time per display refresh, and the CPU the program uses while
// it polls (it should sleep in the kernel, not spin).

#include <sys/resource.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <iostream>
#include <vector>

#include "AppLook.h"
#include "Tone.h"
#include "TraceCount.h"
#include "Unit1.h"
#include "UpsSimProcess.h"

namespace {

using namespace morlen::bench;

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2.0;
}

double CpuSeconds() {
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Notes when the window thread starts a call handed over by the poll thread; the refresh is
// the last such call before the window says it has refreshed.
class HandOffTimer : public QObject {
public:
    QElapsedTimer clock;
    qint64 lastStartNs = 0;
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::MetaCall)
            lastStartNs = clock.nsecsElapsed();
        return false;
    }
};

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"morlen-bench-window: the whole program polling morlen-upssim at line speed"};
    int passes = 30;
    int latencyMs = 40;
    app.add_option("-n,--passes", passes, "number of timed passes (default 30)")
        ->check(CLI::Range(2, 10000));
    app.add_option("--latency", latencyMs, "the simulator's reply latency in ms (default 40)")
        ->check(CLI::Range(0, 1000));
    bool compare = false;
    bool batteryPage = false;
    app.add_flag("--battery-page", batteryPage,
                 "poll with the battery page in front: its reads between the passes");
    app.add_flag("--journal", compare,
                 "also time passes that each carry a request, with the service journal off and on");
    CLI11_PARSE(app, argc, argv);

    qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    const std::string trace = config.path().toStdString() + "/trace.txt";
    morlen::test::UpsSimProcess sim({"--profile", "su1000", "--port", "COM1", "--latency",
                                     std::to_string(latencyMs), "--trace", trace},
                                    {{"XDG_CONFIG_HOME", config.path().toStdString()}});
    if (!sim.started()) {
        std::cerr << sim.error() << "\n";
        return 1;
    }

    QApplication application(argc, argv);
    morlen::applyApplicationLook();
    // The service journal, where it is on, in a folder of the run's own.
    qputenv("XDG_DATA_HOME", config.path().toLocal8Bit());

    // One connection of a fresh window, measured over `passes` passes. With `step`, every pass
    // also carries out one "Change" request (the alarm delay), which the journal records.
    struct Run {
        std::vector<double> passMs, refreshMs;
        Traffic traffic;
        double cpu = 0, wall = 0;
        bool connected = false;
    };
    const auto measure = [&](bool journal, bool step) {
        Run run;
        qputenv("MORLEN_JOURNAL", journal ? "on" : "off");
        auto* form = new TForm1;
        // Silent: a benchmark has nothing to confirm.
        struct Silent : morlen::Tone {
            void Beep(int, int) override {}
        };
        form->tone = std::make_unique<Silent>();

        HandOffTimer handOff;
        handOff.clock.start();
        form->installEventFilter(&handOff);

        qint64 previousEnd = -1;
        std::size_t traceStart = 0;
        double cpuStart = 0;
        qint64 wallStart = 0;
        const int warmUp = 2;
        int seen = 0;
        QObject::connect(form, &TForm1::displayRefreshed, [&] {
            const qint64 now = handOff.clock.nsecsElapsed();
            ++seen;
            if (seen == warmUp) {
                traceStart = TraceLines(trace);
                cpuStart = CpuSeconds();
                wallStart = now;
            } else if (seen > warmUp) {
                run.passMs.push_back(double(now - previousEnd) / 1e6);
                run.refreshMs.push_back(double(now - handOff.lastStartNs) / 1e6);
                if (seen == warmUp + passes)
                    QApplication::quit();
            }
            if (step)
                form->requestQueue->Push('y', '-');
            previousEnd = now;
        });

        form->ui->ComboBox1->setCurrentIndex(0);  // COM1
        form->ComboBox1Change();
        if (form->worker == nullptr) {
            std::cerr << "could not connect: " << form->statusText().toStdString() << "\n";
            return run;
        }
        run.connected = true;
        if (batteryPage)
            form->ui->PageControl1->setCurrentWidget(form->ui->TabSheet10);
        QApplication::exec();
        run.cpu = CpuSeconds() - cpuStart;
        run.wall = double(handOff.clock.nsecsElapsed() - wallStart) / 1e9;
        // The passes measured end at a refresh: count what the line carried up to the last one.
        run.traffic = CountTrace(trace, traceStart);
        form->close();
        while (form != nullptr && QApplication::topLevelWidgets().contains(form))
            QApplication::processEvents(QEventLoop::AllEvents, 50);
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return run;
    };

    const Run plain = measure(true, false);
    if (!plain.connected)
        return 1;
    // The journal's share: the same passes, each with a request it records, without and with it.
    // Off, on, on, off: a machine that slows down or speeds up meanwhile favours neither.
    std::vector<double> stepsOff, stepsOn;
    bool compared = compare;
    for (const bool journal : {false, true, true, false}) {
        if (!compare)
            break;
        const Run run = measure(journal, true);
        compared = compared && run.connected;
        std::vector<double>& into = journal ? stepsOn : stepsOff;
        into.insert(into.end(), run.passMs.begin(), run.passMs.end());
    }
    const std::vector<double>& passMs = plain.passMs;
    std::vector<double> refreshMs = plain.refreshMs;
    const Traffic& traffic = plain.traffic;
    const double cpu = plain.cpu, wall = plain.wall;

    const double median = Median(passMs);
    // Each pass ends with the link check, so the trace up to now holds whole passes (and
    // perhaps part of one more, which is why the bound is taken per command of a pass).
    const double commandsPerPass = 10.0;  // O L P C F j f B, the refresh's B, and Y
    const double perCommand = traffic.commands ? traffic.boundMs(latencyMs) / traffic.commands : 0;
    const double bound = perCommand * commandsPerPass;
    std::sort(refreshMs.begin(), refreshMs.end());
    std::printf("passes:            %d (profile su1000, latency %d ms)\n", passes, latencyMs);
    std::printf("median pass:       %.3f ms (min %.3f, max %.3f)\n", median,
                *std::min_element(passMs.begin(), passMs.end()),
                *std::max_element(passMs.begin(), passMs.end()));
    std::printf("lower bound:       %.3f ms\n", bound);
    std::printf("ratio:             %.4f (goal <= 1.05: %s)\n", median / bound,
                median / bound <= 1.05 ? "met" : "NOT met");
    std::printf("display refresh:   median %.3f ms, worst %.3f ms (window thread)\n",
                Median(refreshMs), refreshMs.back());
    std::printf("CPU while polling: %.1f %% of one core (%.3f s in %.3f s)\n", 100.0 * cpu / wall,
                cpu, wall);
    if (compared) {
        std::printf("with a request each pass, journal off: median pass %.3f ms\n",
                    Median(stepsOff));
        std::printf("with a request each pass, journal on:  median pass %.3f ms\n",
                    Median(stepsOn));
    }
    sim.stop();
    return 0;
}
