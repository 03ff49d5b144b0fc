// Program start: one window, the message loop, and the one error that ends the program (an
// unusable stored setting) shown in a standard error box.
#include <QApplication>
#include <QMessageBox>
#include <exception>

#include "AppLook.h"
#include "Unit1.h"

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Morlen"));
    QApplication::setOrganizationName(QStringLiteral("Pelloran"));
    morlen::applyApplicationLook();

    try {
        auto* form = new TForm1;  // frees itself when closed
        form->show();
        QApplication::exec();
    } catch (const std::exception& error) {
        QMessageBox::critical(nullptr, QApplication::applicationName(),
                              QString::fromLocal8Bit(error.what()));
    } catch (...) {
        QMessageBox::critical(nullptr, QApplication::applicationName(), QString());
    }
    return 0;
}
