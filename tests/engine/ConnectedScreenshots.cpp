// Renders the window connected to simulated units, after enough passes for the charts to
// fill, to PNG files for the documentation.
#include <QApplication>
#include <QDir>
#include <cstdio>

#include "AppLook.h"
#include "EngineBench.h"

namespace {

bool save(QWidget& window, const QString& path) {
    QApplication::processEvents();
    const bool ok = window.grab().save(path);
    std::printf("%s %s\n", ok ? "wrote" : "FAILED", qPrintable(path));
    return ok;
}

// Lets the poll thread make `passes` passes.
bool poll(morlen::test::EngineBench& bench, int passes) {
    int seen = 0;
    const auto c = QObject::connect(&bench.form(), &TForm1::displayRefreshed, [&] { ++seen; });
    const bool ok = morlen::test::EngineBench::waitFor([&] { return seen >= passes; }, 60000);
    QObject::disconnect(c);
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Morlen"));
    morlen::applyApplicationLook();
    const QDir out(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("."));
    bool ok = true;
    {
        morlen::test::EngineBench bench("su1000");
        bench.form().show();
        bench.connectUnit();
        Ui::TForm1& ui = bench.ui();
        ok = poll(bench, 5) && ok;
        ok = save(bench.form(), out.filePath(QStringLiteral("connected-smart-ups.png"))) && ok;
        // Half the chart's width of passes, then a power failure for the trace to show.
        ui.PageControl1->setCurrentWidget(ui.TabSheet7);
        ok = poll(bench, 120) && ok;
        bench.atRefresh([&] { bench.unit().powerFail(); });
        ok = poll(bench, 60) && ok;
        bench.atRefresh([&] { bench.unit().powerRestore(); });
        ok = poll(bench, 60) && ok;
        ok = save(bench.form(), out.filePath(QStringLiteral("connected-graphics.png"))) && ok;
        ui.PageControl1->setCurrentWidget(ui.TabSheet6);
        ok = poll(bench, 3) && ok;
        ok = save(bench.form(), out.filePath(QStringLiteral("connected-status.png"))) && ok;
    }
    {
        morlen::test::EngineBench bench("gen2-v2");
        bench.form().show();
        bench.connectUnit();
        ok = poll(bench, 5) && ok;
        ok = save(bench.form(), out.filePath(QStringLiteral("connected-smart-2nd-gen.png"))) && ok;
    }
    return ok ? 0 : 1;
}
