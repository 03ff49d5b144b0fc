#include "Unit1.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QFont>
#include <QGuiApplication>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadialGradient>
#include <QScreen>
#include <QSettings>
#include <QTabBar>
#include <QTabWidget>
#include <QTextEdit>
#include <QThread>
#include <cstring>

#include "Apcdynamicdata.h"
#include "GraphPage.h"
#include "Journal.h"
#include "JournalWindow.h"
#include "Settings.h"
#include "StatusBar.h"
#include "TabStyle.h"
#include "Tag.h"
#include "Tone.h"

#ifndef MORLEN_VERSION
#define MORLEN_VERSION "0"
#endif

namespace {

// The client area below the menu bar: the controls above the status bar, and the bar itself.
constexpr int kClientWidth = 624;
constexpr int kClientHeight = 471;

// Defaults of the six persisted settings, also written on first start.
constexpr int kDefaultLeft = 183;
constexpr int kDefaultTop = 131;

QString resourceText(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    QString text = QString::fromUtf8(file.readAll());
    if (text.endsWith(QLatin1Char('\n'))) {
        text.chop(1);
    }
    return text;
}

// A 16 x 16 round lamp with a lighter rim and a small grey shadow.
QPixmap lamp(const QColor& colour) {
    QPixmap image(16, 16);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(128, 128, 128, 150));
    painter.drawEllipse(QRectF(2.5, 2.5, 13, 13));
    QRadialGradient glow(QPointF(6.5, 6.0), 7.5);
    glow.setColorAt(0.0, colour.lighter(170));
    glow.setColorAt(0.45, colour);
    glow.setColorAt(1.0, colour.darker(130));
    painter.setBrush(glow);
    painter.setPen(QPen(colour.lighter(150), 1.0));
    painter.drawEllipse(QRectF(1.0, 1.0, 12.5, 12.5));
    return image;
}

// The window icon: a unit's front with its link lamp lit.
QIcon makeWindowIcon() {
    QPixmap image(32, 32);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(40, 40, 40), 1.5));
    painter.setBrush(QColor(70, 70, 75));
    painter.drawRoundedRect(QRectF(4.5, 2.5, 23, 27), 3, 3);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(150, 150, 155));
    for (int i = 0; i < 3; ++i) {
        painter.drawRect(QRectF(9, 17 + 3.5 * i, 14, 1.5));
    }
    painter.drawPixmap(8, 4, lamp(QColor(0, 200, 0)));
    return QIcon(image);
}

}  // namespace

TForm1::TForm1(QWidget* owner) : QMainWindow(owner), ui(std::make_unique<Ui::TForm1>()) {
    Q_INIT_RESOURCE(Unit1);

    // The window and its controls.
    ui->setupUi(this);
    setWindowIcon(makeWindowIcon());
    applyFonts();
    applyColours();
    bindFieldLabels();
    bindView();
    ui->Memo1->setPlainText(resourceText(QStringLiteral(":/window/Disclaimer.txt")));
    ui->Memo2->setPlainText(resourceText(QStringLiteral(":/window/Constants.txt")));
    // The dump panes are laid out for a full row of 16 bytes with a narrow margin.
    for (QTextEdit* pane : {ui->RichEdit1, ui->RichEdit2}) {
        pane->document()->setDocumentMargin(2);
    }
    setUpStatusBar();
    setUpSaveDialog();
    ConnectAdjustControls();
    ConnectEepromPage();
    ConnectUnitSettings();
    connect(ui->Graphics, &QComboBox::activated, this, &TForm1::GraphicsChange);
    connect(ui->ComboBox1, &QComboBox::activated, this, &TForm1::ComboBox1Change);
    connect(ui->ComboBox1, &PortComboBox::aboutToShowPopup, this, &TForm1::fillPortList);
    connect(ui->Reconnect, &QPushButton::clicked, this, &TForm1::ReconnectClick);
    connect(ui->PageControl2, &QTabWidget::currentChanged, this, &TForm1::PageControl2Change);
    connect(ui->PageControl1, &QTabWidget::currentChanged, this, [this](int index) {
        if (!changingTabs_)
            activePage_ = ui->PageControl1->widget(index);
    });
    activePage_ = ui->PageControl1->currentWidget();
    fillPortList();
    tone = std::make_unique<morlen::SystemTone>(morlen::systemClock());
    // A child of the window, so it outlives the tab bar that uses it.
    auto* tabStyle = new CompactTabStyle;
    tabStyle->setParent(this);
    ui->PageControl1->tabBar()->setStyle(tabStyle);

    // Fixed size: no resizing, and no maximise button to offer it.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(kClientWidth, menuBar()->sizeHint().height() + kClientHeight);

    // What the window owns for its whole life.
    ups = std::make_unique<morlen::APCUPS>();
    requestQueue = std::make_unique<morlen::Queue>();
    std::memset(codeBuffer, 0, sizeof codeBuffer);

    restoreSettings();
    openJournal();

    // Tool tips need no switch: Qt shows them throughout the application.

    showDisconnected();
}

TForm1::~TForm1() {
    endReportWriter();
}

namespace {
// The command line's server, when it names one.
std::optional<QString>& commandLineJournalServer() {
    static std::optional<QString> server;
    return server;
}
}  // namespace

void TForm1::SetCommandLineJournalServer(std::optional<QString> connection) {
    commandLineJournalServer() = std::move(connection);
}

QString TForm1::journalServer() const {
    if (commandLineJournalServer())
        return *commandLineJournalServer();
    return settingsStore->value(QStringLiteral("JournalServer")).toString();
}

void TForm1::openJournal() {
    connect(ui->ServiceJournal, &QAction::triggered, this, &TForm1::ServiceJournalClick);
    connect(ui->SharedJournal, &QAction::triggered, this, &TForm1::SharedJournalClick);
    journalFeed = std::make_unique<morlen::JournalFeed>(journal);
    reopenJournal();
}

void TForm1::reopenJournal() {
    // The windows and the battery report reading the old journal go with it.
    for (morlen::JournalWindow* window : findChildren<morlen::JournalWindow*>())
        delete window;
    endReportWriter();
    journal.reset();
    if (qgetenv("MORLEN_JOURNAL") == "off")
        return;
    morlen::journal::Journal::Options options;
    // Said when writing begins to fail and when it works again, from the journal's own
    // thread; the work on the unit goes on.
    const auto say = [this](const QString& text) {
        QMetaObject::invokeMethod(
            this, [this, text] { setStatusText(text); }, Qt::QueuedConnection);
    };
    options.onFailure = [say](const QString& why) {
        say(QStringLiteral("The service journal cannot be written: %1").arg(why));
    };
    options.onWrittenAgain = [say] {
        say(QStringLiteral("The service journal is written again."));
    };
    // Whether it is shared, or waits for its server, as that changes.
    options.server = journalServer();
    options.onSharing = say;
    journal = std::make_unique<morlen::journal::Journal>(morlen::journal::Journal::DefaultPath(),
                                                         std::move(options));
}

void TForm1::missingControl(const char* name) {
    qFatal("TForm1 has no control named %s", name);
}

QLabel* TForm1::labelOf(const QWidget* field) const {
    return fieldLabels.value(field, nullptr);
}

void TForm1::setStatusText(const QString& text) {
    ui->StatusBar1->setPanelText(0, text);
    ui->StatusBar1->repaint();
}

QString TForm1::statusText() const {
    return ui->StatusBar1->panelText(0);
}

void TForm1::showRequestNote(const QString& text) {
    requestNote_ = text;
    setStatusText(text);
}

void TForm1::clearRequestNote() {
    if (!requestNote_.isEmpty() && statusText() == requestNote_)
        setStatusText(QString());
    requestNote_.clear();
}

void TForm1::setActivePage(QWidget* page) {
    activePage_ = page;
    ui->PageControl1->setCurrentWidget(page);
}

void TForm1::showDisconnected() {
    setActivePage(ui->TabSheet1);
    ui->PageControl1->hide();
    ui->GroupBox7->hide();
    ui->GroupBox7->setEnabled(false);
    for (QWidget* page : {ui->TabSheet1, ui->TabSheet2, ui->TabSheet3, ui->TabSheet4, ui->TabSheet5,
                          ui->TabSheet10}) {
        setPageShown(page, false);
    }
}

void TForm1::setPageShown(QWidget* page, bool shown) {
    const int index = ui->PageControl1->indexOf(page);
    if (index < 0) {
        return;
    }
    changingTabs_ = true;
    ui->PageControl1->setTabEnabled(index, shown);
    changingTabs_ = false;
    setTabShown(page, shown);
}

void TForm1::setTabShown(QWidget* page, bool shown) {
    changingTabs_ = true;
    ui->PageControl1->setTabVisible(ui->PageControl1->indexOf(page), shown);
    changingTabs_ = false;
}

void TForm1::setFontColor(QWidget* control, const QColor& color) {
    QPalette palette = control->palette();
    for (const auto group : {QPalette::Active, QPalette::Inactive}) {
        palette.setColor(group, QPalette::Text, color);
        palette.setColor(group, QPalette::WindowText, color);
        palette.setColor(group, QPalette::ButtonText, color);
    }
    control->setPalette(palette);
}

void TForm1::GraphicsChange() {
    morlen::graphicsChange(this);
}

// ---- Fonts, colours and labels ----

void TForm1::applyFonts() {
    // The layout was measured for an 8-point sans-serif at 96 dpi: 11 pixels. Liberation Sans
    // has the metrics of the usual Windows sans-serif and carries Cyrillic.
    QFont font(QStringLiteral("Liberation Sans"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(11);
    setFont(font);
    // Menus and dialogs are windows of their own; let them take the window's font too.
    setAttribute(Qt::WA_WindowPropagation);

    // Controls with a font of their own give its size in pixels (the monospaced panes) or
    // a narrower width (the longest check box captions).
    for (QWidget* widget : findChildren<QWidget*>()) {
        const QVariant pixels = widget->property("fontPixelSize");
        if (pixels.isValid()) {
            QFont own = widget->font();
            own.setStyleHint(QFont::TypeWriter);
            own.setPixelSize(pixels.toInt());
            widget->setFont(own);
        }
        if (widget->property("fontFullHinting").toBool()) {
            QFont own = widget->font();
            own.setHintingPreference(QFont::PreferFullHinting);
            widget->setFont(own);
        }
        const QVariant stretch = widget->property("fontStretch");
        if (stretch.isValid()) {
            QFont own = widget->font();
            own.setStretch(stretch.toInt());
            widget->setFont(own);
        }
    }
}

void TForm1::applyColours() {
    const QColor buttonFace = palette().color(QPalette::Button);
    for (QWidget* widget : findChildren<QWidget*>()) {
        const QVariant fontColor = widget->property("fontColor");
        if (fontColor.isValid()) {
            setFontColor(widget, fontColor.value<QColor>());
        }
        if (widget->property("buttonFace").toBool()) {
            QPalette palette = widget->palette();
            palette.setColor(QPalette::Base, buttonFace);
            widget->setPalette(palette);
        }
        if (widget->property("scrollBarBackground").toBool()) {
            QPalette palette = widget->palette();
            palette.setColor(QPalette::Base, QColor(200, 200, 200));
            widget->setPalette(palette);
        }
    }
    // The disclaimer is red on white whatever the desktop's colours are.
    QPalette memo = ui->Memo1->palette();
    memo.setColor(QPalette::Base, Qt::white);
    ui->Memo1->setPalette(memo);
}

void TForm1::bindFieldLabels() {
    for (QLabel* label : findChildren<QLabel*>()) {
        QWidget* field = label->buddy();
        if (field == nullptr) {
            continue;
        }
        fieldLabels.insert(field, label);
        syncLabel(label, field);
        field->installEventFilter(this);
        label->installEventFilter(this);
    }
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
    const auto type = event->type();
    if (type == QEvent::ShowToParent || type == QEvent::HideToParent ||
        type == QEvent::EnabledChange) {
        // A field changed, or a label was switched with its group while its field kept a
        // state of its own: either way the label takes the field's state again.
        if (auto* label = qobject_cast<QLabel*>(watched); label && label->buddy()) {
            syncLabel(label, label->buddy());
        } else if (auto* field = qobject_cast<QWidget*>(watched)) {
            const auto labels = fieldLabels.values(field);
            for (QLabel* fieldLabel : labels) {
                syncLabel(fieldLabel, field);
            }
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void TForm1::syncLabel(QLabel* label, const QWidget* field) {
    const bool shown = !field->isHidden();
    const bool enabled = !field->testAttribute(Qt::WA_ForceDisabled);
    if (label->isHidden() == shown) {
        label->setVisible(shown);
    }
    if (label->testAttribute(Qt::WA_ForceDisabled) == enabled) {
        label->setEnabled(enabled);
    }
}

// ---- Status bar and dialogs ----

void TForm1::setUpStatusBar() {
    ImageList1 = {lamp(QColor(0, 190, 0)), lamp(QColor(220, 0, 0))};
    ui->StatusBar1->setPanels({
        {232, QString(), true, false},
        {25, QString(), false, true},
        {70, QStringLiteral("  Support -->"), false, false},
        {100, QStringLiteral("README.md"), true, false},
        {50, QStringLiteral("v" MORLEN_VERSION), false, false},
    });
    ui->StatusBar1->onDrawPanel = [this](QPainter& painter, int index, const QRect& rect) {
        StatusBar1DrawPanel(painter, index, rect);
    };
}

void TForm1::StatusBar1DrawPanel(QPainter& painter, int index, const QRect& rect) {
    if (index != 1) {
        return;
    }
    const bool ok = lampOk;
    painter.drawPixmap(rect.topLeft(), ImageList1.at(ok ? 0 : 1));
}

void TForm1::setUpSaveDialog() {
    SaveDialog1 = new QFileDialog(this, QStringLiteral("Save EEPROM as"));
    SaveDialog1->setObjectName(QStringLiteral("SaveDialog1"));
    SaveDialog1->setAcceptMode(QFileDialog::AcceptSave);
    SaveDialog1->setFileMode(QFileDialog::AnyFile);
    SaveDialog1->setDefaultSuffix(QStringLiteral("bin"));
    // "All Files" matches every name here, also those without a dot.
    SaveDialog1->setNameFilters({QStringLiteral("Morlen EEPROM Dump File (*.bin)"),
                                 QStringLiteral("Morlen UPS Settings Backup File (*.mrn)"),
                                 QStringLiteral("Text File (*.txt)"),
                                 QStringLiteral("All Files (*)")});
    // Qt's own dialog everywhere, so the overwrite question is always asked.
    SaveDialog1->setOption(QFileDialog::DontUseNativeDialog, true);
    SaveDialog1->setOption(QFileDialog::DontConfirmOverwrite, false);
    SaveDialog1->setOption(QFileDialog::ReadOnly, false);
    SaveDialog1->setSizeGripEnabled(true);
}

// ---- Persisted settings ----

void TForm1::restoreSettings() {
    settingsStore = std::make_unique<QSettings>(morlen::settingsFilePath(), QSettings::IniFormat);
    QSettings& store = *settingsStore;

    // "HexCode" marks settings that exist; without it every value starts from its default.
    if (!store.contains(QStringLiteral("HexCode"))) {
        morlen::WriteInteger(store, "Left", kDefaultLeft);
        morlen::WriteInteger(store, "Top", kDefaultTop);
        morlen::WriteInteger(store, "AUTOSU3Gen", 0);
        morlen::WriteInteger(store, "SelfTest", 0);
        morlen::WriteInteger(store, "HexCode", 0);
        morlen::WriteInteger(store, "Graphics", 0);
        store.sync();
    }

    const int left = morlen::ReadInteger(store, "Left");
    const int top = morlen::ReadInteger(store, "Top");
    // A position left by a screen that is gone would hide the window: it opens on the primary
    // screen then, and the close stores where it really is. The file stays as it is till then.
    QList<QRect> screens;
    for (const QScreen* screen : QGuiApplication::screens())
        screens << screen->availableGeometry();
    const QScreen* primary = QGuiApplication::primaryScreen();
    restoredPosition = morlen::OnScreenPosition(QPoint(left, top), size(), screens,
                                                primary ? primary->availableGeometry() : QRect());
    move(restoredPosition);
    ui->SelfTestON1->setChecked(morlen::ReadInteger(store, "SelfTest") != 0);
    ui->AUTO1->setChecked(morlen::ReadInteger(store, "AUTOSU3Gen") != 0);
    ui->HexCodeON->setChecked(morlen::ReadInteger(store, "HexCode") != 0);
    const int graphics = morlen::ReadInteger(store, "Graphics");
    const bool isItem = graphics >= 0 && graphics < ui->Graphics->count();
    ui->Graphics->setCurrentIndex(isItem ? graphics : -1);

    // The choice in force for the display and the one the chart page was last set up for.
    const int choice = ui->Graphics->currentIndex();
    setTag(ui->Graphics, choice);
    setTag(ui->GroupBox26, choice);
}

void TForm1::writeSettings() {
    QSettings& store = *settingsStore;
    // Some display servers (Wayland) neither place windows nor report where they are: keep
    // what was restored rather than storing a made-up position.
    const bool placed = !QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
    const QPoint position = placed ? pos() : restoredPosition;
    morlen::WriteInteger(store, "Left", position.x());
    morlen::WriteInteger(store, "Top", position.y());
    morlen::WriteInteger(store, "AUTOSU3Gen", ui->AUTO1->isChecked() ? 1 : 0);
    morlen::WriteInteger(store, "SelfTest", ui->SelfTestON1->isChecked() ? 1 : 0);
    morlen::WriteInteger(store, "HexCode", ui->HexCodeON->isChecked() ? 1 : 0);
    morlen::WriteInteger(store, "Graphics", ui->Graphics->currentIndex());
    store.sync();
}

// ---- Close ----

void TForm1::closeEvent(QCloseEvent* event) {
    FormClose(event);
}

void TForm1::FormClose(QCloseEvent* event) {
    if (settingsStore == nullptr) {
        // Already closed once; nothing is left to release or write.
        event->accept();
        return;
    }
    if (worker != nullptr && workerEnded != 1) {
        // The poll thread owns the port: ask it to stop and refuse this close. WorkerTerminated
        // closes the window again once the thread has ended.
        requestWorkerStop();
        Tag = 1;
        // A question the poll thread waits on would hold the close: it is answered No.
        if (openQuestion)
            openQuestion->reject();
        event->ignore();
        return;
    }

    event->accept();
    setAttribute(Qt::WA_DeleteOnClose);
    requestQueue.reset();
    ups.reset();
    std::memset(codeBuffer, 0, sizeof codeBuffer);
    writeSettings();
    settingsStore.reset();
    // Writes what is still queued; its window and the battery report go first, they read it.
    qDeleteAll(findChildren<morlen::JournalWindow*>());
    endReportWriter();
    journal.reset();
}

void TForm1::requestWorkerStop() {
    // The thread checks the request between requests and at the top of each pass.
    worker->RequestStop();
}

void TForm1::WorkerTerminated() {
    if (Tag == 1 && settingsStore != nullptr) {
        requestQueue->Clear();
        if (ups->PortHandleValid()) {
            ups->LeaveSmartMode();
            ups->ClosePortHandle();
        }
        journalFeed->ConnectionEnded(*ups, QStringLiteral("Port closed"));
        workerEnded = 1;
        close();
    }
    workerEnded = 1;
    ui->BatteryService->setEnabled(false);
}
