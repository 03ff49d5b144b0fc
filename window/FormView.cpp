// The window as the engine's view: what each operation looks like on the form. Everything here
// runs on the window thread; during a connection the poll thread waits meanwhile.
#include <QCheckBox>
#include <QColor>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <algorithm>
#include <initializer_list>

#include "GraphPage.h"
#include "Performancegraph.h"
#include "Tag.h"
#include "Unit1.h"

namespace {

const QColor kConfirmed(0, 255, 0);
const QColor kBlack(0, 0, 0);
const QColor kOverload(255, 0, 0);

// Font colour of a field and of every label that names it.
void setFieldColour(QWidget* field, const QColor& colour) {
    TForm1::setFontColor(field, colour);
    if (field->parentWidget() == nullptr)
        return;
    for (QLabel* label : field->parentWidget()->findChildren<QLabel*>(Qt::FindDirectChildrenOnly))
        if (label->buddy() == field)
            TForm1::setFontColor(label, colour);
}

void showBits(std::uint8_t byte, std::initializer_list<QCheckBox*> boxes) {
    int bit = 0;
    for (QCheckBox* box : boxes) {
        const bool set = (byte >> bit) & 1;
        box->setChecked(set);
        box->setEnabled(set);
        ++bit;
    }
}

}  // namespace

void TForm1::bindView() {
    for (int i = 0; i < morlen::kFieldCount; ++i)
        fields_[std::size_t(i)] = control<QLineEdit>(morlen::NameOf(morlen::Field(i)));
    for (int i = 0; i < morlen::kBarCount; ++i)
        bars_[std::size_t(i)] = control<QProgressBar>(morlen::NameOf(morlen::Bar(i)));
}

void TForm1::putText(morlen::Field f, const QString& text) {
    field(f)->setText(text);
}

QString TForm1::fieldText(morlen::Field f) const {
    return field(f)->text();
}

void TForm1::putCaption(morlen::Field f, const QString& text) {
    if (QLabel* label = labelOf(field(f)))
        label->setText(text);
}

void TForm1::flash(morlen::Field f, bool on) {
    QLineEdit* entry = field(f);
    setFontColor(entry, on ? kConfirmed : kBlack);
    entry->repaint();
}

void TForm1::putBar(morlen::Bar b, float value) {
    // A bar ignores a value outside its range and would keep a stale position: such a reading
    // shows at the nearest end.
    QProgressBar* shown = bar(b);
    shown->setValue(
        int(std::clamp(morlen::Truncate(value), long(shown->minimum()), long(shown->maximum()))));
}

void TForm1::showLoad(const morlen::LoadPlace& place, const QString& percent, const QString& watts,
                      float loadPercent) {
    // An overload is red, on the fields and on their captions.
    const QColor colour = loadPercent >= 100.0f ? kOverload : kBlack;
    field(place.percent)->setText(percent);
    setFieldColour(field(place.percent), colour);
    setFieldColour(field(place.watts), colour);
    field(place.watts)->setText(watts);
    putBar(place.bar, loadPercent);
    bar(place.bar)->repaint();
}

void TForm1::showInput(const morlen::InputPlace& place, const QString& input, float inputVolts,
                       const QString& output, float outputVolts) {
    field(place.input)->setText(input);
    putBar(place.inputBar, inputVolts);
    field(place.output)->setText(output);
    putBar(place.outputBar, outputVolts);
}

void TForm1::unitSettled() {
    takeUnitValues();
}

void TForm1::requestEnded() {
    // An EEPROM read holds the buffer choice; every request gives it back.
    ui->PageControl2->setEnabled(true);
}

std::uint16_t TForm1::beginEepromRead(int steps) {
    ui->PageControl2->setEnabled(false);
    ui->ProgressBar1->setMaximum(steps);
    return bufferOffset;
}

void TForm1::showEepromProgress(int step) {
    ui->ProgressBar1->show();
    ui->ProgressBar1->setValue(step);
}

void TForm1::endEepromRead(int unread) {
    ui->ProgressBar1->hide();
    EepromBufferRead(unread);
}

void TForm1::saveEeprom() {
    SaveEepromDialog();
}

void TForm1::compareEeprom() {
    CompareEepromBuffers();
}

bool TForm1::batteryPageShown() const {
    return activePage() == ui->TabSheet10;
}

bool TForm1::statusPageShown() const {
    return activePage() == ui->TabSheet6;
}

void TForm1::showLinkLamp(bool answered) {
    // The lamp paints from this copy, never from the unit the poll thread writes.
    lampOk = answered;
    ui->StatusBar1->update();
}

void TForm1::showStatusRegisters(const morlen::StatusRegisters& r) {
    Ui::TForm1& u = *ui;
    showBits(r.register1, {u.CheckBox9, u.CheckBox10, u.CheckBox11, u.CheckBox12, u.CheckBox13,
                           u.CheckBox14, u.CheckBox15, u.CheckBox16});
    showBits(r.register2, {u.CheckBox17, u.CheckBox18, u.CheckBox19, u.CheckBox20, u.CheckBox21,
                           u.CheckBox22, u.CheckBox23, u.CheckBox24});
    showBits(r.register3, {u.CheckBox1, u.CheckBox2, u.CheckBox3, u.CheckBox4, u.CheckBox5,
                           u.CheckBox6, u.CheckBox7, u.CheckBox8});
    showBits(r.status, {u.CheckBox25, u.CheckBox26, u.CheckBox27, u.CheckBox28, u.CheckBox29,
                        u.CheckBox30, u.CheckBox31, u.CheckBox32});
}

void TForm1::addChartPoints(const morlen::ChartReadings& r) {
    // The pair the chart page was last set up for.
    const morlen::GraphPoints points =
        morlen::pointsFor(tagOf(ui->GroupBox26), r.inputVoltage, r.batteryCapacityText.c_str(),
                          r.runTimeMinutes, r.loadPercent, r.outputVoltage);
    if (points.add) {
        ui->KPerformanceGraph1->UpdateData(points.graph1);
        ui->KPerformanceGraph2->UpdateData(points.graph2);
    }
}

void TForm1::refreshEnded() {
    emit displayRefreshed();
}

void TForm1::showLostConnection() {
    Ui::TForm1& u = *ui;
    setStatusText(textNoConnection);
    u.ComboBox1->setEnabled(true);
    u.Reconnect->setEnabled(true);
    setFontColor(u.Memo1, QColor(255, 0, 0));
    u.PageControl1->hide();
    u.GroupBox7->hide();
    u.GroupBox7->setEnabled(false);
    for (QWidget* page : {u.TabSheet1, u.TabSheet2, u.TabSheet3, u.TabSheet4, u.TabSheet5,
                          u.TabSheet7, u.TabSheet10})
        setPageShown(page, false);
    u.Leds->setEnabled(false);
    u.Test->setEnabled(false);
    u.ByPass->setEnabled(false);
}

bool TForm1::confirmCalibration(const morlen::CalibrationCheck& check) {
    // Two questions, so that one hasty Yes never runs a battery down.
    QString first = QStringLiteral(
                        "Start a runtime calibration? The UPS runs on battery for about %1 min "
                        "(Morlen aborts it after %2 min) and the battery will be run down.")
                        .arg(check.expectedMinutes)
                        .arg(check.boundMinutes);
    for (const QString& warning : check.warnings)
        first += QLatin1Char('\n') + warning;
    // A close meanwhile answers the second question before it is asked.
    if (!askQuestion(first) || Tag == 1)
        return false;
    return askQuestion(QStringLiteral(
        "The load must stay as it is and the UPS must stay switched on until the calibration "
        "ends. Start it now?"));
}

bool TForm1::offerCalibrationAbort() {
    return askQuestion(QStringLiteral(
        "The UPS is running a runtime calibration. Abort it? (No leaves it to the UPS.)"));
}
