// Program start: one window, the message loop, and the one error that ends the program (an
// unusable stored setting) shown in a standard error box.
#include <QApplication>
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
