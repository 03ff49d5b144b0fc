// The value entry fields. A text write carries no value: the poll thread reads the field's text
// when it carries the request out. A walk carries the text Enter confirmed, and runs only while
// the field still holds it.
#include "EntryFields.h"

#include <QColor>
#include <QEvent>
#include <QHash>
#include <QKeyEvent>
#include <QLineEdit>
#include <QSet>
#include <QValidator>
#include <algorithm>
#include <limits>

#include "Tone.h"
#include "Unit1.h"

namespace morlen {

QString ShortDate(const QDate& date) {
    // A format string takes "/" literally; only QLocale would put the system's separator.
    return date.toString(QStringLiteral("MM/dd/yy"));
}

long long LeadingInteger(const QString& text) {
    constexpr long long kMax = std::numeric_limits<long long>::max();
    long long value = 0;
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            break;
        const int digit = c.unicode() - '0';
        if (value > (kMax - digit) / 10)
            return kMax;
        value = value * 10 + digit;
    }
    return value;
}

}  // namespace morlen

namespace {

constexpr char16_t kEnter = 13;
constexpr char16_t kEsc = 27;
constexpr char16_t kBackspace = 8;

// The highest input voltage a technician can calibrate against.
constexpr long long kHighestInputVoltage = 235;
// The highest true load accepted, as a share of the unit's rating.
constexpr double kHighestLoadShare = 0.65;

const QString kNoRatingText =
    QStringLiteral("Load cannot be tuned: the model name gives no rating.");

bool isDigit(QChar c) {
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

bool isHexDigit(QChar c) {
    return isDigit(c) || (c >= QLatin1Char('A') && c <= QLatin1Char('F')) ||
           (c >= QLatin1Char('a') && c <= QLatin1Char('f'));
}

bool isLetter(QChar c) {
    return (c >= QLatin1Char('A') && c <= QLatin1Char('Z')) ||
           (c >= QLatin1Char('a') && c <= QLatin1Char('z'));
}

bool isEditKey(QChar c) {
    return c == kEnter || c == kEsc || c == kBackspace;
}

bool isAlphanumeric(QChar c) {
    return isDigit(c) || isLetter(c);
}

bool isDigitOrDot(QChar c) {
    return isDigit(c) || c == QLatin1Char('.');
}

// The unit keeps one byte per character of its texts: printable ASCII is all it can store.
bool isStorable(QChar c) {
    return c >= QLatin1Char(' ') && c <= QLatin1Char('~');
}

// The characters a field takes from the technician.
using Accepts = bool (*)(QChar);

bool holdsOnly(const QString& text, Accepts accepts) {
    return std::all_of(text.begin(), text.end(), accepts);
}

// Digits with at most one decimal point: a text like "....." reads as 0 V, a target the
// walk could never reach.
bool isVoltage(const QString& text) {
    return holdsOnly(text, isDigitOrDot) && text.count(QLatin1Char('.')) <= 1 &&
           std::any_of(text.begin(), text.end(), isDigit);
}

// Holds a field to its characters whatever way the text comes in: typed, pasted (keys, menu,
// middle button), dropped or composed by an input method. A text the program sets (the unit's
// own, shown as it is) may hold other characters; the technician can remove them but add none.
class FieldCharacters final : public QValidator {
public:
    FieldCharacters(QLineEdit* entry, Accepts accepts)
        : QValidator(entry), entry_(entry), accepts_(accepts), last_(entry->text()) {}

    State validate(QString& input, int&) const override {
        // setText clears the modified mark before the text is checked, and an undo leaves
        // something to redo: both bring a text that is not the technician's new input.
        const bool edit = entry_->isModified() && !entry_->isRedoAvailable();
        if (edit && !onlyRemovesForeign(input))
            return Invalid;
        last_ = input;
        return Acceptable;
    }

private:
    // The characters outside the set are those of the field's text before the change, or
    // fewer, in the same order.
    bool onlyRemovesForeign(const QString& input) const {
        qsizetype next = 0;
        for (const QChar c : input) {
            if (accepts_(c))
                continue;
            while (next < last_.size() && last_[next] != c)
                ++next;
            if (next == last_.size())
                return false;
            ++next;
        }
        return true;
    }

    QLineEdit* entry_;
    Accepts accepts_;
    mutable QString last_;
};

// The character a key press types, as the handlers see it. Keys that type nothing (arrows,
// Delete, Tab, modifiers alone) give null: they reach the field untouched.
QChar typedCharacter(const QKeyEvent& event) {
    switch (event.key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
            return QChar(kEnter);
        case Qt::Key_Escape:
            return QChar(kEsc);
        case Qt::Key_Backspace:
            return QChar(kBackspace);
        case Qt::Key_Delete:
        case Qt::Key_Tab:
        case Qt::Key_Backtab:
            return {};
        default:
            break;
    }
    const QString text = event.text();
    return text.isEmpty() ? QChar() : text.front();
}

void beep(TForm1& form) {
    form.tone->Beep(2000, 500);
}

void restore(QLineEdit* entry, const QString& value) {
    entry->setText(value);
    entry->repaint();
}

// A value out of range: red while the tone sounds and for a moment after, then gone.
void redFlash(TForm1& form, QLineEdit* entry) {
    TForm1::setFontColor(entry, QColor(255, 0, 0));
    entry->repaint();
    beep(form);
    form.ups->clock().sleepMs(500);
    TForm1::setFontColor(entry, QColor(0, 0, 0));
    entry->repaint();
    entry->clear();
}

// A value put back: green while the tone sounds.
void greenFlash(TForm1& form, QLineEdit* entry) {
    TForm1::setFontColor(entry, QColor(0, 255, 0));
    entry->repaint();
    beep(form);
    TForm1::setFontColor(entry, QColor(0, 0, 0));
    entry->repaint();
}

using Restore = QString TForm1::UnitValues::*;
using morlen::Request;

// A walk toward the field's text as Enter found it.
void postWalk(TForm1& form, Request request, const QString& target) {
    form.post(request, '-', target.toLatin1().toStdString());
}

// The identity texts take any key the unit can store; Esc puts back the unit's text with a
// beep. Enter writes whatever the field holds, as long as the unit can store it.
void identityKeyPress(TForm1& form, QLineEdit* entry, QChar key, Restore value, Request request) {
    if (key == kEsc) {
        restore(entry, form.unitValues().*value);
        beep(form);
    }
    if (key == kEnter && holdsOnly(entry->text(), isStorable))
        form.post(request, '-');
}

// Two hexadecimal digits; Enter only with both typed, Esc puts back the unit's value quietly.
void hexKeyPress(TForm1& form, QLineEdit* entry, QChar& key, Restore value, Request request) {
    const QChar typed = key;
    const qsizetype length = entry->text().size();
    if (!isHexDigit(typed) && !isEditKey(typed))
        key = QChar();
    if (typed == kEsc)
        restore(entry, form.unitValues().*value);
    // A target that could not have been typed can never be matched: no walk toward it.
    if (typed == kEnter && length == 2 && holdsOnly(entry->text(), isHexDigit))
        postWalk(form, request, entry->text());
}

double loadLimit(TForm1& form) {
    return kHighestLoadShare * double(morlen::Truncate(form.unitValues().ratingVA));
}

// The true load in watts, read off a meter while the unit carries the load on battery.
void loadKeyPress(TForm1& form, QLineEdit* entry, QChar& key, Request request) {
    const QChar typed = key;
    if (!isDigit(typed) && typed != kEnter && typed != kBackspace)
        key = QChar();
    if (typed != kEnter)
        return;
    // The unit works its watts out from the rating: without one they stay 0 whatever its
    // meter does, and no walk could reach the target.
    if (morlen::Truncate(form.unitValues().ratingVA) <= 0) {
        form.setStatusText(kNoRatingText);
        return;
    }
    const QString text = entry->text();
    if (!text.isEmpty() && holdsOnly(text, isDigit) &&
        double(morlen::LeadingInteger(text)) <= loadLimit(form))
        postWalk(form, request, text);
}

// More than the unit may carry while it is calibrated cannot be right: show it red and drop it.
void loadKeyUp(TForm1& form, QLineEdit* entry) {
    entry->setReadOnly(false);
    if (double(morlen::LeadingInteger(entry->text())) > loadLimit(form))
        redFlash(form, entry);
}

// The true input voltage, always three digits. A full field takes only Enter or Backspace;
// anything else sounds the tone.
void voltageKeyPress(TForm1& form, QLineEdit* entry, QChar& key, Request request) {
    const QChar typed = key;
    const QString text = entry->text();
    if (!isDigit(typed) && typed != kEnter && typed != kBackspace)
        key = QChar();
    if (text.size() == 3 && morlen::LeadingInteger(text) <= kHighestInputVoltage) {
        if (typed == kEnter) {
            if (holdsOnly(text, isDigit))
                postWalk(form, request, text);
        } else if (typed != kBackspace) {
            beep(form);
            key = QChar();
        }
    }
}

void voltageKeyUp(TForm1& form, QLineEdit* entry) {
    entry->setReadOnly(false);
    if (morlen::LeadingInteger(entry->text()) > kHighestInputVoltage)
        redFlash(form, entry);
}

// Hands each entry's key presses, key releases and double-clicks to the window's handlers,
// and makes a field read-only for as long as a refused key is held, so that the key inserts
// nothing while copying and moving the cursor still work.
class EntryKeys final : public QObject {
public:
    using Press = void (TForm1::*)(QChar&);
    using Handler = void (TForm1::*)();

    explicit EntryKeys(TForm1& form) : QObject(&form), form_(form) {}

    void watch(QLineEdit* entry, Accepts accepts, Press press, Handler release = nullptr,
               Handler doubleClick = nullptr) {
        fields_.insert(entry, {press, release, doubleClick});
        entry->installEventFilter(this);
        entry->setValidator(new FieldCharacters(entry, accepts));
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        const auto field = fields_.constFind(watched);
        if (field == fields_.constEnd())
            return false;
        // Null while the field is being destroyed: what is left of it is no entry any more.
        auto* entry = qobject_cast<QLineEdit*>(watched);
        if (entry == nullptr)
            return false;
        switch (event->type()) {
            case QEvent::KeyPress: {
                QChar key = typedCharacter(*static_cast<QKeyEvent*>(event));
                if (key.isNull())
                    return false;
                (form_.*field->press)(key);
                if (key.isNull()) {
                    entry->setReadOnly(true);
                    refused_.insert(entry);
                }
                return false;
            }
            case QEvent::KeyRelease:
                // A held key repeats its release too: check and unlock once, when it is let go.
                if (static_cast<QKeyEvent*>(event)->isAutoRepeat())
                    return false;
                if (field->release != nullptr)
                    (form_.*field->release)();
                refused_.remove(entry);
                return false;
            case QEvent::FocusOut:
                // A refused key released elsewhere must not leave the field locked.
                if (refused_.remove(entry))
                    entry->setReadOnly(false);
                return false;
            case QEvent::MouseButtonDblClick:
                // A disabled field still shows its events to a filter; it must ignore them.
                if (field->doubleClick == nullptr || !entry->isEnabled())
                    return false;
                (form_.*field->doubleClick)();
                return true;  // the new text stays whole, not a selected word of it
            default:
                return false;
        }
    }

private:
    struct Field {
        Press press;
        Handler release;
        Handler doubleClick;
    };
    TForm1& form_;
    QHash<QObject*, Field> fields_;
    QSet<QObject*> refused_;
};

}  // namespace

// ---- Identity texts ----

void TForm1::ManufactureDateKeyPress(QChar& key) {
    identityKeyPress(*this, ui->ManufactureDate, key, &UnitValues::manufactureDate,
                     Request::ManufactureDateWrite);
}

void TForm1::BatteriesReplaseDateKeyPress(QChar& key) {
    identityKeyPress(*this, ui->BatteriesReplaseDate, key, &UnitValues::batteryReplaceDate,
                     Request::ReplaceDateWrite);
}

// Today's date for a fresh battery; the technician writes it with Enter.
void TForm1::BatteriesReplaseDateDblClick() {
    ui->BatteriesReplaseDate->setText(morlen::ShortDate(QDate::currentDate()));
}

void TForm1::IDKeyPress(QChar& key) {
    identityKeyPress(*this, ui->ID, key, &UnitValues::upsId, Request::UpsIdWrite);
}

void TForm1::SerialNumberKeyPress(QChar& key) {
    const QChar typed = key;
    if (!isAlphanumeric(typed) && !isEditKey(typed))
        key = QChar();
    identityKeyPress(*this, ui->SerialNumber, typed, &UnitValues::serialNumber,
                     Request::SerialNumberWrite);
}

void TForm1::SerialNumberKeyUp() {
    ui->SerialNumber->setReadOnly(false);
}

// ---- Calibration constants and the model code ----

void TForm1::Const0KeyPress(QChar& key) {
    hexKeyPress(*this, ui->Const0, key, &UnitValues::const0, Request::Const0Walk);
}
void TForm1::Const0KeyUp() {
    ui->Const0->setReadOnly(false);
}
void TForm1::Const4KeyPress(QChar& key) {
    hexKeyPress(*this, ui->Const4, key, &UnitValues::const4, Request::Const4Walk);
}
void TForm1::Const4KeyUp() {
    ui->Const4->setReadOnly(false);
}
void TForm1::Const5KeyPress(QChar& key) {
    hexKeyPress(*this, ui->Const5, key, &UnitValues::const5, Request::Const5Walk);
}
void TForm1::Const5KeyUp() {
    ui->Const5->setReadOnly(false);
}
void TForm1::Const6KeyPress(QChar& key) {
    hexKeyPress(*this, ui->Const6, key, &UnitValues::const6, Request::Const6Walk);
}
void TForm1::Const6KeyUp() {
    ui->Const6->setReadOnly(false);
}
void TForm1::Const02ndKeyPress(QChar& key) {
    hexKeyPress(*this, ui->Const02nd, key, &UnitValues::const0, Request::Const02ndWalk);
}
void TForm1::Const02ndKeyUp() {
    ui->Const02nd->setReadOnly(false);
}
void TForm1::Const52ndKeyPress(QChar& key) {
    hexKeyPress(*this, ui->Const52nd, key, &UnitValues::const5, Request::Const52ndWalk);
}
void TForm1::Const52ndKeyUp() {
    ui->Const52nd->setReadOnly(false);
}
void TForm1::Const62ndKeyPress(QChar& key) {
    hexKeyPress(*this, ui->Const62nd, key, &UnitValues::const6, Request::Const62ndWalk);
}
void TForm1::Const62ndKeyUp() {
    ui->Const62nd->setReadOnly(false);
}
void TForm1::Const_3KeyPress(QChar& key) {
    hexKeyPress(*this, ui->Const_3, key, &UnitValues::constHash, Request::ConstHashWalk);
}
void TForm1::Const_3KeyUp() {
    ui->Const_3->setReadOnly(false);
}
void TForm1::Const_4KeyPress(QChar& key) {
    hexKeyPress(*this, ui->Const_4, key, &UnitValues::constDollar, Request::ConstDollarWalk);
}
void TForm1::Const_4KeyUp() {
    ui->Const_4->setReadOnly(false);
}
void TForm1::Const_5KeyPress(QChar& key) {
    hexKeyPress(*this, ui->Const_5, key, &UnitValues::constPercent, Request::ConstPercentWalk);
}
void TForm1::Const_5KeyUp() {
    ui->Const_5->setReadOnly(false);
}
void TForm1::Const_6KeyPress(QChar& key) {
    hexKeyPress(*this, ui->Const_6, key, &UnitValues::constCaret, Request::ConstCaretWalk);
}
void TForm1::Const_6KeyUp() {
    ui->Const_6->setReadOnly(false);
}
void TForm1::ConstCTRLDKeyPress(QChar& key) {
    hexKeyPress(*this, ui->ConstCTRLD, key, &UnitValues::constCtrlD, Request::ConstCtrlDWalk);
}
void TForm1::ConstCTRLDKeyUp() {
    ui->ConstCTRLD->setReadOnly(false);
}
void TForm1::ModelConstKeyPress(QChar& key) {
    hexKeyPress(*this, ui->ModelConst, key, &UnitValues::modelCode, Request::ModelCodeWalk);
}
void TForm1::ModelConstKeyUp() {
    ui->ModelConst->setReadOnly(false);
}

// ---- Firmware head and battery voltage ----

// Esc is not among the keys the head takes, but still puts back the unit's head, green.
void TForm1::SU36GKeyPress(QChar& key) {
    const QChar typed = key;
    if (!isDigit(typed) && typed != kEnter && typed != kBackspace)
        key = QChar();
    if (typed == kEsc) {
        restore(ui->SU36G, unitValues().firmwareHead);
        greenFlash(*this, ui->SU36G);
    }
    if (typed == kEnter && holdsOnly(ui->SU36G->text(), isStorable))
        post(Request::FirmwareHeadWrite, '-');
}

void TForm1::SU36GKeyUp() {
    ui->SU36G->setReadOnly(false);
}

// The true battery voltage as five characters, 27.60 for example.
void TForm1::BatSmart2ndKeyPress(QChar& key) {
    const QChar typed = key;
    const qsizetype length = ui->BatSmart2nd->text().size();
    if (!isDigit(typed) && typed != QLatin1Char('.') && !isEditKey(typed))
        key = QChar();
    if (typed == kEnter && length == 5 && isVoltage(ui->BatSmart2nd->text()))
        postWalk(*this, Request::Battery2ndWalk, ui->BatSmart2nd->text());
}

void TForm1::BatSmart2ndKeyUp() {
    ui->BatSmart2nd->setReadOnly(false);
}

// ---- True load and input voltage ----

void TForm1::LoadSmartConstKeyPress(QChar& key) {
    loadKeyPress(*this, ui->LoadSmartConst, key, Request::LoadWalk);
}
void TForm1::LoadSmartConstKeyUp() {
    loadKeyUp(*this, ui->LoadSmartConst);
}
void TForm1::LoadSmart2ndKeyPress(QChar& key) {
    loadKeyPress(*this, ui->LoadSmart2nd, key, Request::Load2ndWalk);
}
void TForm1::LoadSmart2ndKeyUp() {
    loadKeyUp(*this, ui->LoadSmart2nd);
}
void TForm1::InputVoltageConstantSmartKeyPress(QChar& key) {
    voltageKeyPress(*this, ui->InputVoltageConstantSmart, key, Request::InputWalk);
}
void TForm1::InputVoltageConstantSmartKeyUp() {
    voltageKeyUp(*this, ui->InputVoltageConstantSmart);
}
void TForm1::InputVoltageConstantSmart2ndKeyPress(QChar& key) {
    voltageKeyPress(*this, ui->InputVoltageConstantSmart2nd, key, Request::Input2ndWalk);
}
void TForm1::InputVoltageConstantSmart2ndKeyUp() {
    voltageKeyUp(*this, ui->InputVoltageConstantSmart2nd);
}
void TForm1::InputVoltageConstantBPKeyPress(QChar& key) {
    voltageKeyPress(*this, ui->InputVoltageConstantBP, key, Request::InputBackProWalk);
}
void TForm1::InputVoltageConstantBPKeyUp() {
    voltageKeyUp(*this, ui->InputVoltageConstantBP);
}

// ---- What the fields read of the unit ----

void TForm1::takeUnitValues() {
    if (ups == nullptr)
        return;
    const morlen::APCUPS& unit = *ups;
    const auto text = [](const auto& field) { return QString::fromLatin1(field.c_str()); };
    UnitValues& v = unitValuesCopy;
    v.manufactureDate = text(unit.manufactureDate);
    v.batteryReplaceDate = text(unit.batteryReplaceDate);
    v.upsId = text(unit.upsId);
    v.serialNumber = text(unit.serialNumber);
    v.firmwareHead = text(unit.firmwareHead);
    v.const0 = text(unit.const0Text);
    v.const4 = text(unit.const4Text);
    v.const5 = text(unit.const5Text);
    v.const6 = text(unit.const6Text);
    v.constHash = text(unit.constHashText);
    v.constDollar = text(unit.constDollarText);
    v.constPercent = text(unit.constPercentText);
    v.constCaret = text(unit.constCaretText);
    v.constCtrlD = text(unit.constCtrlDText);
    v.modelCode = text(unit.modelCodeText);
    v.ratingVA = unit.ratingVA;
    v.ratingDigits = unit.ratingDigits;
    v.model = text(unit.modelName);
    v.firmware = text(unit.firmwareText);
    v.family = unit.family;
    for (std::size_t i = 0; i < v.settings.size(); ++i)
        v.settings[i] = QString::fromLatin1(morlen::StoredSettings()[i].value(unit));
}

const TForm1::UnitValues& TForm1::unitValues() {
    // Without a running poll thread the link and the unit's fields are the window's own.
    if (worker == nullptr || workerEnded == 1)
        takeUnitValues();
    return unitValuesCopy;
}

void TForm1::ConnectEntryFields() {
    auto* keys = new EntryKeys(*this);
    keys->watch(ui->ManufactureDate, isStorable, &TForm1::ManufactureDateKeyPress);
    keys->watch(ui->BatteriesReplaseDate, isStorable, &TForm1::BatteriesReplaseDateKeyPress,
                nullptr, &TForm1::BatteriesReplaseDateDblClick);
    keys->watch(ui->ID, isStorable, &TForm1::IDKeyPress);
    keys->watch(ui->SerialNumber, isAlphanumeric, &TForm1::SerialNumberKeyPress,
                &TForm1::SerialNumberKeyUp);
    keys->watch(ui->Const0, isHexDigit, &TForm1::Const0KeyPress, &TForm1::Const0KeyUp);
    keys->watch(ui->Const4, isHexDigit, &TForm1::Const4KeyPress, &TForm1::Const4KeyUp);
    keys->watch(ui->Const5, isHexDigit, &TForm1::Const5KeyPress, &TForm1::Const5KeyUp);
    keys->watch(ui->Const6, isHexDigit, &TForm1::Const6KeyPress, &TForm1::Const6KeyUp);
    keys->watch(ui->Const02nd, isHexDigit, &TForm1::Const02ndKeyPress, &TForm1::Const02ndKeyUp);
    keys->watch(ui->Const52nd, isHexDigit, &TForm1::Const52ndKeyPress, &TForm1::Const52ndKeyUp);
    keys->watch(ui->Const62nd, isHexDigit, &TForm1::Const62ndKeyPress, &TForm1::Const62ndKeyUp);
    keys->watch(ui->Const_3, isHexDigit, &TForm1::Const_3KeyPress, &TForm1::Const_3KeyUp);
    keys->watch(ui->Const_4, isHexDigit, &TForm1::Const_4KeyPress, &TForm1::Const_4KeyUp);
    keys->watch(ui->Const_5, isHexDigit, &TForm1::Const_5KeyPress, &TForm1::Const_5KeyUp);
    keys->watch(ui->Const_6, isHexDigit, &TForm1::Const_6KeyPress, &TForm1::Const_6KeyUp);
    keys->watch(ui->ConstCTRLD, isHexDigit, &TForm1::ConstCTRLDKeyPress, &TForm1::ConstCTRLDKeyUp);
    keys->watch(ui->ModelConst, isHexDigit, &TForm1::ModelConstKeyPress, &TForm1::ModelConstKeyUp);
    keys->watch(ui->SU36G, isDigit, &TForm1::SU36GKeyPress, &TForm1::SU36GKeyUp);
    keys->watch(ui->BatSmart2nd, isDigitOrDot, &TForm1::BatSmart2ndKeyPress,
                &TForm1::BatSmart2ndKeyUp);
    keys->watch(ui->LoadSmartConst, isDigit, &TForm1::LoadSmartConstKeyPress,
                &TForm1::LoadSmartConstKeyUp);
    keys->watch(ui->LoadSmart2nd, isDigit, &TForm1::LoadSmart2ndKeyPress,
                &TForm1::LoadSmart2ndKeyUp);
    keys->watch(ui->InputVoltageConstantSmart, isDigit, &TForm1::InputVoltageConstantSmartKeyPress,
                &TForm1::InputVoltageConstantSmartKeyUp);
    keys->watch(ui->InputVoltageConstantSmart2nd, isDigit,
                &TForm1::InputVoltageConstantSmart2ndKeyPress,
                &TForm1::InputVoltageConstantSmart2ndKeyUp);
    keys->watch(ui->InputVoltageConstantBP, isDigit, &TForm1::InputVoltageConstantBPKeyPress,
                &TForm1::InputVoltageConstantBPKeyUp);

    // Each refresh runs while the poll thread waits: a safe moment to copy the unit's values.
    connect(this, &TForm1::displayRefreshed, this, &TForm1::takeUnitValues);
}
