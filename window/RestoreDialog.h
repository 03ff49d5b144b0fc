#pragma once

#include <QDialog>
#include <QList>
#include <QString>
#include <functional>
#include <optional>

#include "UnitSettings.h"

class QLabel;
class QPushButton;
class QTableWidget;

// Shows, before anything is sent, each stored setting whose saved value differs from the
// unit's, from a settings file or from the values the service journal recorded before the
// unit's last reset. A file of another family is refused; one of another model or serial
// number is shown with a warning. A saved value that is not a value of this unit is shown as
// such and skipped. Accepting it means: restore the other differences shown.
class RestoreDialog : public QDialog {
    Q_OBJECT

public:
    // The unit as the window knows it: family, identity, the value of every setting its
    // buttons can step (null where none can) and the values it offers for them.
    struct Unit {
        int family = morlen::FamilyUnknown;
        QString model, serialNumber;
        morlen::SettingValues now;
        morlen::UnitOffer offer;
    };
    RestoreDialog(QWidget* owner, Unit unit, std::optional<morlen::UnitSettingsFile> beforeReset);

    // Asks for the file to open; empty when cancelled. Tests replace it.
    std::function<QString()> runOpenDialog;

    void OpenFileClick();
    void BeforeResetClick();
    // Reads a settings file and shows it; false (and why, in the warning) when it cannot.
    bool LoadFile(const QString& path);
    // Compares `source` with the unit and shows what a restore would change.
    void ShowSource(const morlen::UnitSettingsFile& source, const QString& description);

    // What Restore puts back: the restorable differences shown.
    const QList<morlen::SettingDifference>& differences() const { return differences_; }

private:
    void showRefusal(const QString& why);

    Unit unit_;
    std::optional<morlen::UnitSettingsFile> beforeReset_;
    QList<morlen::SettingDifference> differences_;
    QLabel* source_ = nullptr;
    QLabel* warning_ = nullptr;
    QTableWidget* table_ = nullptr;
    QPushButton* restore_ = nullptr;
};
