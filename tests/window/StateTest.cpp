// The window as it starts: fixed size, the disconnected look, the link lamp, and the helpers
// the connection and poll code use on it.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QComboBox>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QSet>
#include <QTabWidget>
#include <memory>

#include "DisplayRefresh.h"
#include "Tag.h"
#include "Unit1.h"
#include "WindowTestSupport.h"

namespace {

class StateTest : public ::testing::Test {
protected:
    ScratchConfig config;
    std::unique_ptr<TForm1> form = std::make_unique<TForm1>();
};

TEST_F(StateTest, WindowHasAFixedSizeAndCannotBeMaximised) {
    form->show();
    const int menu = form->menuBar()->height();
    EXPECT_EQ(form->size(), QSize(624, menu + 471));
    EXPECT_EQ(form->minimumSize(), form->size());
    EXPECT_EQ(form->maximumSize(), form->size());
    EXPECT_FALSE(form->windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
    EXPECT_TRUE(form->windowFlags().testFlag(Qt::WindowMinimizeButtonHint));
    EXPECT_TRUE(form->windowFlags().testFlag(Qt::WindowCloseButtonHint));

    // The client area below the menu: controls in 624 x 450, the status bar below them.
    EXPECT_EQ(form->centralWidget()->objectName(), QStringLiteral("ClientArea"));
    EXPECT_EQ(form->centralWidget()->geometry(), QRect(0, menu, 624, 450));
    EXPECT_EQ(form->ui->StatusBar1->geometry(), QRect(0, menu + 450, 624, 21));

    const QSize fixed = form->size();
    form->resize(800, 600);
    EXPECT_EQ(form->size(), fixed);
}

TEST_F(StateTest, StartsDisconnected) {
    Ui::TForm1& ui = *form->ui;
    EXPECT_TRUE(ui.PageControl1->isHidden());
    EXPECT_TRUE(ui.GroupBox7->isHidden());
    EXPECT_FALSE(ui.GroupBox7->isEnabled());
    QTabWidget* pages = ui.PageControl1;
    for (QWidget* page : {ui.TabSheet1, ui.TabSheet2, ui.TabSheet3, ui.TabSheet4, ui.TabSheet5}) {
        SCOPED_TRACE(page->objectName().toStdString());
        const int index = pages->indexOf(page);
        EXPECT_FALSE(pages->isTabVisible(index));
        EXPECT_FALSE(pages->isTabEnabled(index));
        EXPECT_FALSE(page->isEnabled());
    }
    for (QWidget* page : {ui.TabSheet6, ui.TabSheet7, ui.TabSheet8, ui.TabSheet9}) {
        SCOPED_TRACE(page->objectName().toStdString());
        const int index = pages->indexOf(page);
        EXPECT_TRUE(pages->isTabVisible(index));
        EXPECT_TRUE(pages->isTabEnabled(index));
    }
    // A hidden tab is never the page shown.
    EXPECT_TRUE(pages->isTabVisible(pages->currentIndex()));

    // The port choice, empty, with the four ports first; whatever else is listed is an
    // adapter this machine has.
    EXPECT_EQ(ui.ComboBox1->currentIndex(), -1);
    EXPECT_TRUE(ui.ComboBox1->currentText().isEmpty());
    ASSERT_GE(ui.ComboBox1->count(), 4);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(ui.ComboBox1->itemText(i), QStringLiteral("COM%1").arg(i + 1));
    }
    for (int i = 4; i < ui.ComboBox1->count(); ++i) {
        const QString port = ui.ComboBox1->itemText(i);
        EXPECT_TRUE(port.startsWith(QStringLiteral("/dev/tty"))) << port.toStdString();
        EXPECT_TRUE(QFileInfo::exists(port)) << port.toStdString();
    }
    EXPECT_TRUE(form->statusText().isEmpty());
}

// Before a unit is connected only the port choice, the memo, the menu and the status bar
// are there to use.
TEST_F(StateTest, OnlyThePortChoiceIsUsableBeforeAConnection) {
    form->show();
    QSet<QString> usable;
    for (QWidget* w : form->centralWidget()->findChildren<QWidget*>()) {
        const bool control = qobject_cast<QAbstractButton*>(w) || qobject_cast<QLineEdit*>(w) ||
                             qobject_cast<QComboBox*>(w) || qobject_cast<QPlainTextEdit*>(w);
        if (control && w->isVisible() && w->isEnabled() && !w->objectName().startsWith("qt_")) {
            usable.insert(w->objectName());
        }
    }
    EXPECT_EQ(usable, (QSet<QString>{QStringLiteral("ComboBox1"), QStringLiteral("Memo1")}));
    EXPECT_TRUE(form->menuBar()->isEnabled());
    EXPECT_TRUE(form->ui->StatusBar1->isVisible());
    // Display only.
    EXPECT_FALSE(form->ui->StatusBar1->isEnabled());
}

// What the layout fixes before a unit is connected, for the controls that connection and
// polling later switch.
TEST_F(StateTest, ControlsStartInTheirLayoutState) {
    const struct {
        const char* name;
        bool enabled;
        bool shown;
    } states[] = {
        {"GroupBox1", false, true},
        {"GroupBox4", false, true},
        {"GroupBox5", false, true},
        {"GroupBox21", false, true},
        {"GroupBox3", false, true},
        {"GroupBox20", false, true},
        {"GroupBox10", false, true},
        {"GroupBox16", false, true},
        {"GroupBox22", false, true},
        {"GroupBox11", false, true},
        {"GroupBox13", false, true},
        {"Panel4", false, true},
        {"GroupBox6", true, true},
        {"GroupBox8", true, true},
        {"GroupBox14", true, true},
        {"GroupBox12", true, true},
        {"Reconnect", false, true},
        {"Leds", false, true},
        {"Test", false, true},
        {"ByPass", false, true},
        {"ComboBox1", true, true},
        {"ModelConst", true, false},
        {"Firmware", true, true},
        {"Label5", true, false},
        {"SU36G", true, false},
        {"Const_3", true, true},
        {"ConstCTRLD", true, false},
        {"Const_4", true, false},
        {"Const_5", true, false},
        {"Const_6", true, false},
        {"BatSmart2nd", true, false},
        {"LowBatWarningChange", true, true},
        {"ShutDownDelayChange", false, true},
        {"WakeUpDelayChange", false, true},
        {"SelfTestChange", false, true},
        {"ThresholdChange", true, true},
        {"SensitivityChange", true, true},
        {"AlarmDelayChange", true, true},
        {"ResetAll", true, true},
        {"ProgressBar1", true, false},
        {"ReadEE", true, true},
        {"CompareEE", true, true},
        {"SaveEE", true, true},
        {"Graphics", true, true},
    };
    for (const auto& s : states) {
        SCOPED_TRACE(s.name);
        QWidget* w = form->findChild<QWidget*>(QLatin1String(s.name));
        ASSERT_NE(w, nullptr);
        // The control's own state, whatever its page or group is doing.
        EXPECT_EQ(!w->testAttribute(Qt::WA_ForceDisabled), s.enabled);
        EXPECT_EQ(!w->isHidden(), s.shown);
    }
    EXPECT_EQ(form->ui->PageControl2->currentWidget(), form->ui->Buffer1);
}

TEST_F(StateTest, FieldLabelsFollowTheirField) {
    QLineEdit* field = form->ui->SU36G;
    QLabel* label = form->labelOf(field);
    ASSERT_NE(label, nullptr);
    EXPECT_TRUE(label->isHidden());
    field->show();
    EXPECT_FALSE(label->isHidden());
    form->ui->GroupBox7->setEnabled(true);
    field->setEnabled(false);
    EXPECT_FALSE(label->isEnabled());
    field->setEnabled(true);
    EXPECT_TRUE(label->isEnabled());
    // Switched off while its group is off, it stays off with its label when the group comes on.
    form->ui->GroupBox7->setEnabled(false);
    field->setEnabled(false);
    form->ui->GroupBox7->setEnabled(true);
    EXPECT_FALSE(field->isEnabled());
    EXPECT_FALSE(label->isEnabled());
    field->setEnabled(true);
    EXPECT_TRUE(label->isEnabled());
    field->hide();
    EXPECT_TRUE(label->isHidden());

    // A unit label beside a field is its own control.
    form->ui->Temperature->setEnabled(false);
    EXPECT_TRUE(form->ui->Label4->isEnabled());
    EXPECT_EQ(form->labelOf(form->ui->Temperature)->text(),
              QStringLiteral("Temperature Inside UPS"));
    EXPECT_EQ(form->labelOf(form->ui->ComboBox1), nullptr);
}

// The lamp panel of the status bar shows green after a successful smart-mode check, red
// otherwise.
TEST_F(StateTest, LinkLampShowsTheStateCopiedForTheWindow) {
    // The poll thread writes the unit's smart-mode state while the window paints: the lamp
    // reads the window's own copy, taken while the window thread owns the link.
    TStatusBar* bar = form->ui->StatusBar1;
    const QPoint centre = bar->panelRect(1).topLeft() + QPoint(7, 7);
    auto lampColour = [&] { return QColor(bar->grab().toImage().pixel(centre)); };
    auto isRed = [](const QColor& c) { return c.red() > 150 && c.green() < 80; };
    auto isGreen = [](const QColor& c) { return c.green() > 150 && c.red() < 80; };

    ASSERT_FALSE(form->ups->smartModeOk);
    EXPECT_TRUE(isRed(lampColour()));

    form->ups->smartModeOk = true;  // as the poll thread's link check writes it
    EXPECT_TRUE(isRed(lampColour())) << "not read while the poll thread may write it";

    morlen::RefreshDisplay(*form, *form->ups);  // the hand-off of the next pass
    EXPECT_TRUE(isGreen(lampColour()));

    form->ups->smartModeOk = false;
    morlen::RefreshDisplay(*form, *form->ups);
    EXPECT_TRUE(isRed(lampColour()));
}

TEST_F(StateTest, StatusBarHasFivePanels) {
    TStatusBar* bar = form->ui->StatusBar1;
    ASSERT_EQ(bar->panelCount(), 5);
    const int widths[] = {232, 25, 70, 100, 50};
    int left = 0;
    for (int i = 0; i < 5; ++i) {
        SCOPED_TRACE(i);
        const QRect r = bar->panelRect(i);
        EXPECT_GE(r.left(), left);
        EXPECT_LE(r.right(), left + widths[i]);
        left += widths[i];
    }
    EXPECT_EQ(bar->panelText(2), QStringLiteral("  Support -->"));
    EXPECT_FALSE(bar->panelText(3).isEmpty());
    EXPECT_FALSE(bar->panelText(4).isEmpty());

    form->setStatusText(form->textConnected);
    EXPECT_EQ(bar->panelText(0), QStringLiteral("Connection to UPS established."));
    EXPECT_EQ(form->statusText(), form->textConnected);
}

TEST_F(StateTest, MessageTextsAndCodeBuffer) {
    EXPECT_EQ(form->textPortOpenFailed,
              QStringLiteral("Unable to open COM Port to communicate with UPS"));
    EXPECT_EQ(form->textConnected, QStringLiteral("Connection to UPS established."));
    EXPECT_EQ(form->textNoConnection, QStringLiteral("Could not establish connection to UPS."));
    EXPECT_EQ(form->textPortCloseFailed, QStringLiteral("Unable to Close COM Port"));
    EXPECT_EQ(form->textMonitorOnly, QStringLiteral("SmartSlot NOT Empty! Monitor Mode ONLY!"));
    EXPECT_EQ(sizeof form->codeBuffer, 6u);
    EXPECT_EQ(form->codeBuffer[0], '\0');
    EXPECT_NE(form->ups, nullptr);
    ASSERT_NE(form->requestQueue, nullptr);
    EXPECT_TRUE(form->requestQueue->IsEmpty());
    EXPECT_EQ(form->worker, nullptr);
    EXPECT_EQ(form->Tag, 0);
}

TEST_F(StateTest, PagesAreShownAndHiddenWithTheirTabs) {
    QTabWidget* pages = form->ui->PageControl1;
    const int index = pages->indexOf(form->ui->TabSheet2);
    form->setPageShown(form->ui->TabSheet2, true);
    EXPECT_TRUE(pages->isTabVisible(index));
    EXPECT_TRUE(pages->isTabEnabled(index));
    EXPECT_TRUE(form->ui->TabSheet2->isEnabled());
    form->setPageShown(form->ui->TabSheet2, false);
    EXPECT_FALSE(pages->isTabVisible(index));
    EXPECT_FALSE(form->ui->TabSheet2->isEnabled());

    // Back to the look of a lost connection after the pages were shown.
    form->ui->PageControl1->show();
    form->ui->GroupBox7->show();
    form->ui->GroupBox7->setEnabled(true);
    for (int i = 0; i < 5; ++i) {
        form->setPageShown(pages->widget(i), true);
    }
    form->showDisconnected();
    EXPECT_TRUE(pages->isHidden());
    EXPECT_TRUE(form->ui->GroupBox7->isHidden());
    EXPECT_FALSE(form->ui->GroupBox7->isEnabled());
    for (int i = 0; i < 5; ++i) {
        EXPECT_FALSE(pages->isTabVisible(i)) << i;
    }
}

TEST_F(StateTest, ControlsAreFoundByName) {
    EXPECT_EQ(form->control<QLineEdit>("Const0"), form->ui->Const0);
    EXPECT_EQ(form->control<QProgressBar>("LoadBar"), form->ui->LoadBar);
    EXPECT_EQ(form->control<QGroupBox>("GroupBox26"), form->ui->GroupBox26);
}

TEST_F(StateTest, FontColourChangesTheText) {
    TForm1::setFontColor(form->ui->LoadPercent, QColor(255, 0, 0));
    EXPECT_EQ(form->ui->LoadPercent->palette().color(QPalette::Active, QPalette::Text),
              QColor(255, 0, 0));
    TForm1::setFontColor(form->labelOf(form->ui->LoadPercent), QColor(0, 0, 0));
    EXPECT_EQ(form->labelOf(form->ui->LoadPercent)
                  ->palette()
                  .color(QPalette::Active, QPalette::WindowText),
              QColor(0, 0, 0));
}

// Choosing a pair of readings in the list reaches the graph page.
TEST_F(StateTest, GraphChoiceIsAppliedWhenChosen) {
    QComboBox* list = form->ui->Graphics;
    list->setCurrentIndex(2);
    emit list->activated(2);
    EXPECT_EQ(tagOf(list), 2);
    EXPECT_EQ(tagOf(form->ui->GroupBox26), 2);
    EXPECT_EQ(form->ui->GroupBox26->title(), QStringLiteral(" Run Time "));
    EXPECT_EQ(form->ui->GroupBox27->title(), QStringLiteral(" Load "));
}

}  // namespace
