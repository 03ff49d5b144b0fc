// "Save unit settings..." and "Restore unit settings..." of the Options menu. Both work from
// the values the program last read from the unit (at the connection and after every request);
// the restore itself is one request, carried out by the poll thread, which owns the link.
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

#include "Journal.h"
#include "RequestHandling.h"
#include "RestoreDialog.h"
#include "Unit1.h"

namespace {

const QString kNoUnitText = QStringLiteral("No unit with settings is connected.");
const QString kConnectionEndedText =
    QStringLiteral("Nothing was restored: the connection to the unit has ended.");

}  // namespace

void TForm1::ConnectUnitSettings() {
    connect(ui->SaveUnitSettings, &QAction::triggered, this, &TForm1::SaveUnitSettingsClick);
    connect(ui->RestoreUnitSettings, &QAction::triggered, this, &TForm1::RestoreUnitSettingsClick);
    connect(ui->BatteryService, &QAction::triggered, this, &TForm1::BatteryServiceClick);
}

std::optional<morlen::Request> TForm1::restoreRequest(int index) const {
    for (const morlen::SettingPlace& place : morlen::StoredSettings()[std::size_t(index)].places) {
        if (place.button == nullptr)
            continue;
        const auto* button = control<QWidget>(place.button);
        if (button->isEnabled() && !button->isHidden())
            return place.request;
    }
    return std::nullopt;
}

morlen::UnitOffer TForm1::unitOffer() {
    const QString firmware = unitValues().firmware.trimmed();
    const char locale = firmware.isEmpty() ? '\0' : firmware.back().toLatin1();
    return morlen::OfferOf(unitCapabilities, locale);
}

std::optional<morlen::UnitSettingsFile> TForm1::valuesBeforeReset() {
    const UnitValues& unit = unitValues();
    if (!journal)
        return std::nullopt;
    // A reset just carried out may still be on its way to the disk.
    journal->Flush();
    const std::optional<morlen::journal::Entry> reset =
        journal->LastReset(unit.family, unit.model.trimmed(), unit.serialNumber.trimmed());
    if (!reset)
        return std::nullopt;
    morlen::UnitSettingsFile values{reset->model,  reset->serialNumber, reset->firmware,
                                    reset->family, reset->when,         {}};
    // The reset's entry holds the settings a reset sets, each under its label.
    for (std::size_t i = 0; i < morlen::StoredSettings().size(); ++i)
        if (const morlen::StoredSetting& setting = morlen::StoredSettings()[i]; setting.reset)
            values.values[i] =
                morlen::journal::ValueOf(reset->before, QLatin1String(setting.label));
    return values;
}

void TForm1::SaveUnitSettingsClick() {
    const bool connected = worker != nullptr && workerEnded == 0;
    const UnitValues& unit = unitValues();
    morlen::UnitSettingsFile file{unit.model,
                                  unit.serialNumber,
                                  unit.firmware,
                                  unit.family,
                                  QDateTime::currentDateTime().toString(Qt::ISODate),
                                  {}};
    bool any = false;
    const morlen::UnitOffer offer = unitOffer();
    for (int i = 0; i < morlen::kStoredSettingCount; ++i) {
        const auto n = std::size_t(i);
        if (restoreRequest(i)) {
            any = true;
            // "NA", an empty read or garbage would only be refused by the restore: no line.
            if (morlen::IsUnitValue(i, offer[n], unit.settings[n].toLatin1().toStdString()))
                file.values[n] = unit.settings[n];
        }
    }
    if (!connected || !any) {
        setStatusText(kNoUnitText);
        return;
    }
    const QString suggested =
        QDir(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation))
            .filePath(morlen::SettingsFileName(unit.model, unit.serialNumber));
    const QString path =
        runSaveSettingsDialog
            ? runSaveSettingsDialog(suggested)
            : QFileDialog::getSaveFileName(this, QStringLiteral("Save unit settings"), suggested,
                                           QStringLiteral("Morlen UPS Settings Backup File "
                                                          "(*.mrn);;All Files (*)"));
    if (path.isEmpty())
        return;
    // Replaced whole or not at all.
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly) ||
        out.write(morlen::FormatSettingsFile(file).toUtf8()) < 0 || !out.commit()) {
        showErrorBox(QStringLiteral("Unable to save the unit settings."), out.errorString());
        return;
    }
    setStatusText(QStringLiteral("Unit settings saved to %1.").arg(QFileInfo(path).fileName()));
}

void TForm1::RestoreUnitSettingsClick() {
    const bool connected = worker != nullptr && workerEnded == 0;
    const UnitValues& values = unitValues();
    RestoreDialog::Unit unit{values.family, values.model, values.serialNumber, {}, unitOffer()};
    bool any = false;
    for (int i = 0; i < morlen::kStoredSettingCount; ++i) {
        if (restoreRequest(i)) {
            unit.now[std::size_t(i)] = values.settings[std::size_t(i)];
            any = true;
        }
    }
    if (!connected || !any) {
        setStatusText(kNoUnitText);
        return;
    }
    auto* dialog = new RestoreDialog(this, unit, valuesBeforeReset());
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    if (runOpenSettingsDialog)
        dialog->runOpenDialog = runOpenSettingsDialog;
    const morlen::UnitOffer offer = unit.offer;
    connect(dialog, &QDialog::accepted, this, [this, dialog, offer] {
        std::vector<morlen::RestoreTarget> plan;
        for (const morlen::SettingDifference& d : dialog->differences()) {
            if (const auto request = restoreRequest(d.index))
                plan.push_back({d.index, static_cast<char>(*request),
                                d.saved.toLatin1().toStdString(), offer[std::size_t(d.index)]});
        }
        if (plan.empty())
            return;
        // The connection may have ended while the dialog was open, or be ending now: then the
        // queue refuses the request, and no later connection's unit gets it.
        const bool posted =
            worker != nullptr && workerEnded == 0 &&
            post(morlen::Request::RestoreSettings, '-', std::nullopt, std::move(plan));
        if (!posted)
            setStatusText(kConnectionEndedText);
    });
    dialog->open();
}
