// Program start: one window, the message loop, and the one error that ends the program (an
// unusable stored setting) shown in a standard error box.
#include <QApplication>
#include <QCommandLineParser>
#include <QMessageBox>
#include <exception>

#include "AppLook.h"
#include "Settings.h"
#include "SignalClose.h"
#include "Unit1.h"

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Morlen"));
    QApplication::setOrganizationName(QStringLiteral("Pelloran"));
    // Ties the window to the menu entry the package installs (its icon, its name).
    QGuiApplication::setDesktopFileName(QStringLiteral("org.pelloran.Morlen"));
    morlen::applyApplicationLook();

    QCommandLineParser options;
    options.setApplicationDescription(
        QStringLiteral("Service and calibration of UPS units on a serial port."));
    options.addHelpOption();
    const QCommandLineOption journalServer(
        QStringLiteral("journal-server"),
        QStringLiteral("Share the service journal on this PostgreSQL server (a libpq connection "
                       "string; empty: this computer's file only). Wins over the setting."),
        QStringLiteral("connection string"));
    options.addOption(journalServer);
    options.process(application);
    if (options.isSet(journalServer))
        TForm1::SetCommandLineJournalServer(options.value(journalServer));

    try {
        auto* form = new TForm1;  // frees itself when closed
        // Ended from outside (a logout, kill, Ctrl+C), it closes as if its window was closed.
        morlen::CloseOnSignals(form);
        form->show();
        QApplication::exec();
    } catch (const morlen::SettingsError& error) {
        morlen::SettingsErrorBox(error)->exec();
    } catch (const std::exception& error) {
        QMessageBox::critical(nullptr, QApplication::applicationName(),
                              QString::fromLocal8Bit(error.what()));
    } catch (...) {
        QMessageBox::critical(nullptr, QApplication::applicationName(), QString());
    }
    return 0;
}
