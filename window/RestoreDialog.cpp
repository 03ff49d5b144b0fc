#include "RestoreDialog.h"

#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>
#include <utility>

using morlen::UnitSettingsFile;

RestoreDialog::RestoreDialog(QWidget* owner, Unit unit, std::optional<UnitSettingsFile> beforeReset)
    : QDialog(owner), unit_(std::move(unit)), beforeReset_(std::move(beforeReset)) {
    setObjectName(QStringLiteral("RestoreSettings"));
    setWindowTitle(QStringLiteral("Restore unit settings"));

    auto* open = new QPushButton(QStringLiteral("Open file..."), this);
    open->setObjectName(QStringLiteral("OpenSettingsFile"));
    auto* reset = new QPushButton(QStringLiteral("Values before the last reset"), this);
    reset->setObjectName(QStringLiteral("BeforeReset"));
    reset->setEnabled(beforeReset_.has_value());
    if (beforeReset_)
        reset->setToolTip(QStringLiteral("Recorded on %1").arg(beforeReset_->saved));
    connect(open, &QPushButton::clicked, this, &RestoreDialog::OpenFileClick);
    connect(reset, &QPushButton::clicked, this, &RestoreDialog::BeforeResetClick);

    source_ = new QLabel(QStringLiteral("Choose the saved settings to put back."), this);
    source_->setObjectName(QStringLiteral("SourceText"));
    source_->setWordWrap(true);
    warning_ = new QLabel(this);
    warning_->setObjectName(QStringLiteral("FitWarning"));
    warning_->setWordWrap(true);
    warning_->setStyleSheet(QStringLiteral("color: red"));
    warning_->hide();

    table_ = new QTableWidget(0, 4, this);
    table_->setObjectName(QStringLiteral("Differences"));
    table_->setHorizontalHeaderLabels(
        {QStringLiteral("Setting"), QStringLiteral("Now"), QStringLiteral("Saved"), QString()});
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setSelectionMode(QAbstractItemView::NoSelection);
    table_->verticalHeader()->hide();
    table_->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);

    restore_ = new QPushButton(QStringLiteral("Restore"), this);
    restore_->setObjectName(QStringLiteral("RestoreButton"));
    restore_->setEnabled(false);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setObjectName(QStringLiteral("CancelButton"));
    connect(restore_, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    auto* sources = new QHBoxLayout;
    sources->addWidget(open);
    sources->addWidget(reset);
    sources->addStretch();
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(restore_);
    buttons->addWidget(cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(sources);
    layout->addWidget(source_);
    layout->addWidget(warning_);
    layout->addWidget(table_);
    layout->addLayout(buttons);
    resize(520, 360);
}

void RestoreDialog::OpenFileClick() {
    const QString path = runOpenDialog
                             ? runOpenDialog()
                             : QFileDialog::getOpenFileName(
                                   this, QStringLiteral("Restore unit settings"), QString(),
                                   QStringLiteral("Morlen UPS Settings Backup File (*.mrn);;"
                                                  "All Files (*)"));
    if (!path.isEmpty())
        LoadFile(path);
}

void RestoreDialog::BeforeResetClick() {
    if (beforeReset_)
        ShowSource(*beforeReset_,
                   QStringLiteral("Values before the reset of %1.").arg(beforeReset_->saved));
}

bool RestoreDialog::LoadFile(const QString& path) {
    QFile file(path);
    const QString name = QFileInfo(path).fileName();
    if (!file.open(QIODevice::ReadOnly)) {
        showRefusal(QStringLiteral("Unable to read %1: %2").arg(name, file.errorString()));
        return false;
    }
    QString why;
    // A settings file is a few hundred bytes; anything much larger is not one.
    const std::optional<UnitSettingsFile> parsed =
        morlen::ParseSettingsFile(QString::fromUtf8(file.read(64 * 1024)), &why);
    if (!parsed) {
        showRefusal(name + QStringLiteral(": ") + why);
        return false;
    }
    ShowSource(*parsed, QStringLiteral("%1, saved from %2 %3 on %4.")
                            .arg(name, parsed->model.trimmed(), parsed->serialNumber.trimmed(),
                                 parsed->saved));
    return true;
}

void RestoreDialog::showRefusal(const QString& why) {
    differences_.clear();
    table_->setRowCount(0);
    warning_->setText(why);
    warning_->show();
    restore_->setEnabled(false);
}

void RestoreDialog::ShowSource(const UnitSettingsFile& source, const QString& description) {
    source_->setText(description);
    const morlen::FileFit fit =
        morlen::FitOf(source, unit_.family, unit_.model, unit_.serialNumber);
    if (fit == morlen::FileFit::OtherFamily) {
        showRefusal(morlen::FitText(source, fit));
        return;
    }
    warning_->setText(morlen::FitText(source, fit));
    warning_->setVisible(fit != morlen::FileFit::Same);

    const QList<morlen::SettingDifference> rows =
        morlen::Differences(unit_.now, source.values, unit_.offer);
    differences_.clear();
    table_->setRowCount(int(rows.size()));
    for (int row = 0; row < rows.size(); ++row) {
        const morlen::SettingDifference& d = rows[row];
        if (d.restorable)
            differences_.append(d);
        const QString cells[] = {
            QLatin1String(morlen::StoredSettings()[std::size_t(d.index)].label), d.now.trimmed(),
            d.saved.trimmed(), d.restorable ? QString() : QLatin1String(morlen::kNotAUnitValue)};
        for (int column = 0; column < 4; ++column)
            table_->setItem(row, column, new QTableWidgetItem(cells[column]));
    }
    if (rows.isEmpty())
        source_->setText(description + QStringLiteral(" Every setting already reads that value."));
    restore_->setEnabled(!differences_.isEmpty());
}
