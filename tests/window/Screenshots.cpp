// Renders the window as a technician first sees it, then every page of the page control, to
// PNG files. The pages are revealed here only; the program itself shows them per unit family.
#include <QApplication>
#include <QDir>
#include <QGroupBox>
#include <QRegularExpression>
#include <QTabWidget>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "AppLook.h"
#include "Unit1.h"

namespace {

bool save(QWidget& window, const QString& path) {
    QApplication::processEvents();
    const bool ok = window.grab().save(path);
    std::printf("%s %s\n", ok ? "wrote" : "FAILED", qPrintable(path));
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    // Never touch the user's own settings.
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());

    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Morlen"));
    morlen::applyApplicationLook();
    const QDir out(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("."));

    TForm1 form;
    form.show();
    bool ok = save(form, out.filePath(QStringLiteral("window-disconnected.png")));

    // Every page, with the groups a connected unit would enable.
    Ui::TForm1& ui = *form.ui;
    ui.PageControl1->show();
    ui.GroupBox7->show();
    ui.GroupBox7->setEnabled(true);
    for (QGroupBox* group : form.findChildren<QGroupBox*>()) {
        group->setEnabled(true);
    }
    ui.Panel4->setEnabled(true);
    // Each page among the tabs a unit of its family brings up.
    const std::vector<std::vector<QWidget*>> tabSets = {
        {ui.TabSheet1, ui.TabSheet5, ui.TabSheet6, ui.TabSheet7, ui.TabSheet8, ui.TabSheet9},
        {ui.TabSheet2, ui.TabSheet6, ui.TabSheet7},
        {ui.TabSheet3, ui.TabSheet5, ui.TabSheet6, ui.TabSheet7, ui.TabSheet8, ui.TabSheet9},
        {ui.TabSheet4, ui.TabSheet6},
    };
    QTabWidget* pages = ui.PageControl1;
    for (int i = 0; i < pages->count(); ++i) {
        QWidget* page = pages->widget(i);
        // The four family pages with their own tabs, the shared pages with a Smart-UPS's.
        const auto& tabs = tabSets[i < 4 ? static_cast<size_t>(i) : 0];
        for (int j = 0; j < pages->count(); ++j) {
            QWidget* other = pages->widget(j);
            form.setPageShown(other, std::find(tabs.begin(), tabs.end(), other) != tabs.end());
        }
        pages->setCurrentWidget(page);
        // "Smart 2-nd Gen." -> page-3-smart-2-nd-gen.png
        QString name = pages->tabText(i).toLower();
        name.replace(QRegularExpression(QStringLiteral("[^a-z0-9]+")), QStringLiteral("-"));
        name.remove(QRegularExpression(QStringLiteral("^-|-$")));
        ok = save(form, out.filePath(QStringLiteral("page-%1-%2.png").arg(i + 1).arg(name))) && ok;
    }
    return ok ? 0 : 1;
}
