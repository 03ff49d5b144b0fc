#pragma once

#include <QHash>
#include <QList>
#include <QMainWindow>
#include <QPixmap>
#include <QPointer>
#include <QString>
#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Apcups.h"
#include "JournalFeed.h"
#include "Queue.h"
#include "UnitSettings.h"
#include "View.h"
#include "ui_Unit1.h"

class QCloseEvent;
class QColor;
class QFileDialog;
class QLabel;
class QLineEdit;
class QMessageBox;
class QPainter;
class QProgressBar;
class QSettings;
class QThread;

namespace morlen {
// The poll thread; it exists only while a unit is connected.
class APCDynamicData;
class BatteryServiceDialog;
class Tone;
struct SelfTestSwitchOff;
namespace journal {
class Journal;
struct Entry;
}  // namespace journal
}  // namespace morlen

// The one window of the program. Its controls come from Unit1.ui and keep their object names;
// `ui` reaches them by name in code, `control<T>("Name")` by a name held as text.
//
// It is the engine's view (FormView.cpp): the poll thread says through it what to show, and
// the window shows it its own way.
//
// Construction builds the window, creates the UPS object and the request queue, restores the
// six persisted settings (throwing morlen::SettingsError when a stored value is unusable) and
// leaves the window in its disconnected look.
class TForm1 : public QMainWindow, public morlen::View {
    Q_OBJECT

public:
    explicit TForm1(QWidget* owner = nullptr);
    ~TForm1() override;

    std::unique_ptr<Ui::TForm1> ui;

    // The control with this object name; a missing name is a programming error and stops.
    template <class T>
    T* control(const char* name) const {
        T* found = findChild<T*>(QLatin1String(name));
        if (found == nullptr) {
            missingControl(name);
        }
        return found;
    }

    // The caption that travels with an entry or display field (shown, hidden, enabled and
    // disabled with it), or null when the field has none.
    QLabel* labelOf(const QWidget* field) const;

    // Panel 0 of the status bar, repainted at once so it shows while the window thread is busy.
    void setStatusText(const QString& text);
    QString statusText() const;
    // How the last request ended where it did not do what was asked (a walk that did not
    // arrive, an EEPROM read with unanswered bytes): in the status text until the next request
    // begins, unless something else has been said there meanwhile.
    void showRequestNote(const QString& text) override;
    void clearRequestNote() override;
    // The note the last request left; empty when it did what was asked.
    QString requestNote() const override { return requestNote_; }

    // ---- The engine's view (FormView.cpp) ----
    void putText(morlen::Field field, const QString& text) override;
    QString fieldText(morlen::Field field) const override;
    void putCaption(morlen::Field field, const QString& text) override;
    void flash(morlen::Field field, bool on) override;
    void putBar(morlen::Bar bar, float value) override;
    void showLoad(const morlen::LoadPlace& place, const QString& percent, const QString& watts,
                  float loadPercent) override;
    void showInput(const morlen::InputPlace& place, const QString& input, float inputVolts,
                   const QString& output, float outputVolts) override;
    void unitSettled() override;
    void requestEnded() override;
    std::uint16_t beginEepromRead(int steps) override;
    void showEepromProgress(int step) override;
    void endEepromRead(int unread) override;
    void saveEeprom() override;
    void compareEeprom() override;
    bool statusPageShown() const override;
    bool batteryPageShown() const override;
    void showLinkLamp(bool answered) override;
    void showStatusRegisters(const morlen::StatusRegisters& registers) override;
    void addChartPoints(const morlen::ChartReadings& readings) override;
    void refreshEnded() override;
    void showLostConnection() override;
    bool confirmCalibration(const morlen::CalibrationCheck& check) override;
    bool offerCalibrationAbort() override;
    void showService(const morlen::ServiceState& state) override;
    QLineEdit* field(morlen::Field field) const { return fields_[std::size_t(field)]; }
    QProgressBar* bar(morlen::Bar bar) const { return bars_[std::size_t(bar)]; }

    // ---- Service journal ----
    // Null when MORLEN_JOURNAL is "off" (the benchmark compares both).
    std::unique_ptr<morlen::journal::Journal> journal;
    // What records connections and requests in it; records nothing while it is off.
    std::unique_ptr<morlen::JournalFeed> journalFeed;
    // Every reading and setting the window shows for the unit, "label=value" lines, labels as
    // the window shows them (with their group's title).
    QString shownReadings() const;
    // Opens the journal window.
    void ServiceJournalClick();
    // Opens "Shared journal...": the connection string of the server the journal is shared on,
    // empty for this computer's file alone. The journal reopens when it changes.
    void SharedJournalClick();
    // The server named on the command line; it wins over the setting. Set before the window
    // is made.
    static void SetCommandLineJournalServer(std::optional<QString> connection);
    // The server the journal is shared on: the command line's, else the setting's.
    QString journalServer() const;

    // The look before any unit is connected: page control and unit information hidden, the
    // family pages and the settings page disabled with their tabs hidden.
    void showDisconnected();
    // Enables a page of PageControl1 and shows its tab, or disables it and hides the tab.
    void setPageShown(QWidget* page, bool shown);
    // Shows or hides a page's tab only.
    void setTabShown(QWidget* page, bool shown);
    // The page of PageControl1 that is active: what the poll thread reads and the refresh
    // shows. It stays the page made active even while its tab is hidden (an unidentified
    // unit's), where the tab control itself moves on to a page whose tab shows.
    QWidget* activePage() const { return activePage_; }
    void setActivePage(QWidget* page);

    // The link lamp's state, copied from the unit while the window thread owns the link (at
    // connection, in each refresh and at a lost connection), so painting never reads the
    // unit while the poll thread writes it.
    bool lampOk = false;

    // Text colour of a field, label, check box or memo.
    static void setFontColor(QWidget* control, const QColor& color);

    // Runs on the window thread once the poll thread has ended. With a close pending (Tag 1)
    // it drops the queued requests, takes the unit out of smart mode, closes the port and
    // closes the window; in every case it records that the thread has ended.
    void WorkerTerminated();

    // The graph choice: relabels the chart frames and clears the charts whose quantity changed.
    void GraphicsChange();

    // Choosing a port connects: close a port still open, open the chosen one, check smart
    // mode, identify and fill the unit's page, then start the poll thread.
    void ComboBox1Change();
    // The same with the port still selected.
    void ReconnectClick();
    // Identifies the unit, fills its family's page and runs the chosen options.
    void StartClick();
    // ---- Adjust buttons and entry fields ----
    // Posts a request for the poll thread; false when the queue refuses it (its connection has
    // ended). Each adjust button only posts its request (Buttons.cpp).
    bool post(morlen::Request request, char argument,
              std::optional<std::string> target = std::nullopt,
              std::vector<morlen::RestoreTarget> restore = {});

    // Entry fields. A key press handler gets the typed character (Enter 13, Esc 27,
    // Backspace 8) and refuses it by setting it to null; the field is then read-only until the
    // key is released, so the character is not inserted. The key-release handlers make the
    // field editable again and check the range of the typed value.
    void ManufactureDateKeyPress(QChar& key);
    void BatteriesReplaseDateKeyPress(QChar& key);
    void BatteriesReplaseDateDblClick();
    void IDKeyPress(QChar& key);
    void SerialNumberKeyPress(QChar& key);
    void SerialNumberKeyUp();
    void Const0KeyPress(QChar& key);
    void Const0KeyUp();
    void Const4KeyPress(QChar& key);
    void Const4KeyUp();
    void Const5KeyPress(QChar& key);
    void Const5KeyUp();
    void Const6KeyPress(QChar& key);
    void Const6KeyUp();
    void Const02ndKeyPress(QChar& key);
    void Const02ndKeyUp();
    void Const52ndKeyPress(QChar& key);
    void Const52ndKeyUp();
    void Const62ndKeyPress(QChar& key);
    void Const62ndKeyUp();
    void Const_3KeyPress(QChar& key);
    void Const_3KeyUp();
    void Const_4KeyPress(QChar& key);
    void Const_4KeyUp();
    void Const_5KeyPress(QChar& key);
    void Const_5KeyUp();
    void Const_6KeyPress(QChar& key);
    void Const_6KeyUp();
    void ConstCTRLDKeyPress(QChar& key);
    void ConstCTRLDKeyUp();
    void ModelConstKeyPress(QChar& key);
    void ModelConstKeyUp();
    void SU36GKeyPress(QChar& key);
    void SU36GKeyUp();
    void BatSmart2ndKeyPress(QChar& key);
    void BatSmart2ndKeyUp();
    void LoadSmartConstKeyPress(QChar& key);
    void LoadSmartConstKeyUp();
    void LoadSmart2ndKeyPress(QChar& key);
    void LoadSmart2ndKeyUp();
    void InputVoltageConstantSmartKeyPress(QChar& key);
    void InputVoltageConstantSmartKeyUp();
    void InputVoltageConstantSmart2ndKeyPress(QChar& key);
    void InputVoltageConstantSmart2ndKeyUp();
    void InputVoltageConstantBPKeyPress(QChar& key);
    void InputVoltageConstantBPKeyUp();

    // Binds the adjust buttons and the entry fields; called once by the constructor.
    void ConnectAdjustControls();

    // What the window thread reads of the unit while a poll thread may be using it: the values
    // Esc puts back and the rating. A copy, so a request writing them never shows half done.
    struct UnitValues {
        QString manufactureDate, batteryReplaceDate, upsId, serialNumber, firmwareHead;
        QString const0, const4, const5, const6, constHash, constDollar, constPercent, constCaret,
            constCtrlD, modelCode;
        float ratingVA = 0;
        int ratingDigits = 0;
        // The unit's identity and stored settings, for saving and restoring them.
        QString model, firmware;
        int family = morlen::FamilyUnknown;
        morlen::SettingValues settings;
    };
    // Copies them from `ups`. Only while the window thread owns the link: no poll thread
    // running, or the poll thread waiting in a hand-off (after each request, at each refresh).
    void takeUnitValues();
    // The copy, taken afresh first when no poll thread runs.
    const UnitValues& unitValues();

private:
    void ConnectEntryFields();
    UnitValues unitValuesCopy;

public:
    // ---- Unit settings files (Options menu) ----
    // Writes the connected unit's stored settings, as last read, to a file named after it.
    void SaveUnitSettingsClick();
    // The restore dialog: a saved file, or the values before the unit's last reset, against
    // the unit's settings; what the technician confirms is posted as one request.
    void RestoreUnitSettingsClick();
    void ConnectUnitSettings();
    // The request of the button that steps this stored setting on the unit's page; nothing
    // when the window offers none for it (another family, a disabled group).
    std::optional<morlen::Request> restoreRequest(int index) const;
    // The connected Smart-UPS's capability string as the connection step read it (empty for
    // the other families): the values it offers for its settings.
    std::string unitCapabilities;
    // The values the connected unit offers for each stored setting, where it lists them.
    morlen::UnitOffer unitOffer();
    // The file dialogs of both; tests replace them so that no modal dialog waits for them.
    std::function<QString(const QString& suggested)> runSaveSettingsDialog;
    std::function<QString()> runOpenSettingsDialog;
    // The ten settings the connected unit held before its last reset, as the service journal
    // recorded them; nothing without a journal or a reset of this unit in it.
    std::optional<morlen::UnitSettingsFile> valuesBeforeReset();

    // ---- EEPROM page ----
    // Each button only posts its request; the poll thread carries it out.
    void ReadEEClick();
    void SaveEEClick();
    void CompareEEClick();
    // Hex dump of the buffer at bufferOffset into that buffer's pane, after a read.
    void DumpEepromBuffer();
    // Buffer1 against Buffer2 byte by byte into RichEdit6, whichever buffer is shown.
    void CompareEepromBuffers();
    // Asks for a file and writes the shown buffer (256 bytes) or, on the Compare page, the
    // comparison text to it. An incomplete buffer, or a comparison made from one, is saved only
    // when the technician says so. The file is replaced whole or not at all; a failure is
    // reported in an error box.
    void SaveEepromDialog();
    // Runs SaveDialog1 as set up by SaveEepromDialog and returns the chosen file, empty when
    // cancelled. Tests replace it so that no modal dialog waits for them.
    std::function<QString()> runSaveDialog;
    // A read takes 256 replies from the unit: the start address ("#") and 255 bytes ("+").
    // How many of them could not be read in the last read into each buffer (Buffer1, Buffer2);
    // 0 for a complete read and for a buffer never read.
    int unreadBytes[2] = {0, 0};
    // The two counts as they stood when the comparison in RichEdit6 was made.
    int comparedUnreadBytes[2] = {0, 0};
    // After a read into the buffer at bufferOffset: remembers how many replies could not be
    // read, says so in the status text when there were any, and shows the dump.
    void EepromBufferRead(int unread);
    // A modal Yes/No question; true for Yes. Tests may replace it.
    std::function<bool(const QString&)> questionBox;
    bool askQuestion(const QString& text);
    // The question standing open, if any: a close answers it No.
    QPointer<QMessageBox> openQuestion;
    // Binds the page's buttons; called once by the constructor.
    void ConnectEepromPage();
    // The EEPROM page's buffer choice.
    void PageControl2Change();
    // Offset of the EEPROM buffer being worked on: 0 for Buffer1, 256 for Buffer2.
    std::uint16_t bufferOffset = 0;

    // A modal box captioned "Error" with an OK button; `reason`, when not empty, is its
    // informative text below `text`. Tests may replace it.
    std::function<void(const QString& text, const QString& reason)> errorBox;
    void showErrorBox(const QString& text, const QString& reason = QString());

    // Where the port list looks for USB and ACM adapters and their makers; tests point them at
    // folders of their own.
    QString portDeviceFolder = QStringLiteral("/dev");
    QString portSysfsRoot = QStringLiteral("/sys");

    // The confirmation tone (2000 Hz, 500 ms); tests put a silent one in virtual time here.
    std::unique_ptr<morlen::Tone> tone;

    // ---- Battery service (Options menu) ----
    // Opens the guided service's dialog (non-modal), or brings it back where it was stopped.
    void BatteryServiceClick();
    // Asks for a file and writes the service's report on a worker thread.
    void BatteryReportClick();
    // What the engine last reported of the service; the dialog shows it.
    morlen::ServiceState serviceState;
    QPointer<morlen::BatteryServiceDialog> serviceDialog;
    // The battery report's writer, owned by the window: a close cancels it and waits for it
    // before the journal it reads goes.
    std::unique_ptr<QThread> reportWriter;
    std::shared_ptr<std::atomic<bool>> cancelReport;
    void endReportWriter();
    // The report's file dialog; tests replace it so that no modal dialog waits for them.
    std::function<QString()> runReportDialog;

signals:
    // The battery service report is written (or could not be).
    void reportWritten(bool written);
    // Emitted at the end of every display refresh, on the window thread, while the poll
    // thread waits for it: a safe moment to look at (or change) what the thread works on.
    void displayRefreshed();

public:
    // Message texts shared by the connection steps and the poll thread.
    const QString textPortOpenFailed =
        QStringLiteral("Unable to open COM Port to communicate with UPS");
    const QString textConnected = QStringLiteral("Connection to UPS established.");
    const QString textNoConnection = QStringLiteral("Could not establish connection to UPS.");
    const QString textPortCloseFailed = QStringLiteral("Unable to Close COM Port");
    const QString textMonitorOnly = QStringLiteral("SmartSlot NOT Empty! Monitor Mode ONLY!");

    // The target the connection step works out for a walk it posts (the next model code, the
    // battery constant): up to five characters and the terminator.
    char codeBuffer[6] = {};

    std::unique_ptr<QSettings> settingsStore;
    std::unique_ptr<morlen::APCUPS> ups;
    std::unique_ptr<morlen::Queue> requestQueue;
    // Null until the first connection; replaced by each new one.
    morlen::APCDynamicData* worker = nullptr;
    // 1 once the poll thread has ended, 0 while one runs.
    std::uint8_t workerEnded = 0;
    // 1 while a close waits for the poll thread to end, otherwise 0.
    int Tag = 0;

    // The link lamp of the status bar: 0 green (smart mode answered), 1 red.
    QList<QPixmap> ImageList1;
    // Set up once; the EEPROM page runs it to save a buffer or a comparison.
    QFileDialog* SaveDialog1 = nullptr;

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FormClose(QCloseEvent* event);
    // Finds the fields and bars the engine names; called once by the constructor.
    void bindView();
    std::array<QLineEdit*, morlen::kFieldCount> fields_{};
    std::array<QProgressBar*, morlen::kBarCount> bars_{};
    void StatusBar1DrawPanel(QPainter& painter, int index, const QRect& rect);

    void applyFonts();
    void applyColours();
    void bindFieldLabels();
    static void syncLabel(QLabel* label, const QWidget* field);
    void setUpStatusBar();
    void setUpSaveDialog();
    // Opens the service journal in the user's data folder, unless MORLEN_JOURNAL is "off".
    void openJournal();
    // Closes the journal (and the windows reading it) and opens it again as set now.
    void reopenJournal();
    void restoreSettings();
    void writeSettings();
    // Asks the running poll thread to stop; completed with the poll engine.
    void requestWorkerStop();

    // Connection helpers.
    // COM1..COM4, then the adapters present now; called again each time the list opens.
    void fillPortList();
    void FinishPreviousWorker();
    void PageSwitch(QWidget* active, std::initializer_list<QWidget*> shown);
    // The settings shown on the "Settings" page (and the line frequency).
    void ShowSettings();
    void FillSmartNoSerial();
    void FillSmart();
    void FillBackPro();
    void FillSmart2ndGen();
    void FillBackCS();
    void ExtendedConstants(bool restarted);
    void ModelCodeStep();
    void BatteryConstant();
    // The connection step's own changes, each an entry of the connection.
    void journalSwitchOff(const morlen::SelfTestSwitchOff& off, const std::string& failed);
    void journalRestart();
    void journalModelCodeRead();
    [[noreturn]] static void missingControl(const char* name);

    // Fields and the labels that travel with them.
    QMultiHash<const QWidget*, QLabel*> fieldLabels;
    QWidget* activePage_ = nullptr;
    QString requestNote_;
    // The connection step has restarted the unit ("Z" pair): at most once per connection.
    bool restartSent_ = false;
    // Set while tabs are shown or hidden: the page the tab control moves to then is not chosen.
    bool changingTabs_ = false;
    // Where the settings put the window; kept when the display server places windows itself.
    QPoint restoredPosition;
};
