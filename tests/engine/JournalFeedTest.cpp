// What the journal records of each kind of request against the simulated unit: one entry per
// request, named as the window labels it, with the values read back before and after, how it
// ended, and the unit and connection it belongs to. The wire itself is pinned, journal on, by
// the request rows.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <functional>
#include <string>
#include <utility>

#include <QDialog>
#include <QDialogButtonBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>

#include "Connection.h"
#include "Journal.h"
#include "JournalWindow.h"
#include "PgServer.h"
#include "Profile.h"
#include "WireRig.h"

namespace morlen::test {
namespace {

using journal::Entry;
using journal::Outcome;

QString Latin(const char* text) {
    return QString::fromLatin1(text);
}

// The ten settings as the unit last read them, in a reset entry's format: each under the
// label the "Settings" page and the Smart-UPS page give it.
QString TenSettings(const APCUPS& u) {
    const std::pair<const char*, const char*> settings[] = {
        {"Up Voltage", u.highTransferText.c_str()},
        {"Low Voltage", u.lowTransferText.c_str()},
        {"Out Voltage", u.outputSettingText.c_str()},
        {"Self Test", u.selfTestIntervalText.c_str()},
        {"Shut down delay", u.shutdownDelayText.c_str()},
        {"Wake up delay", u.turnOnDelayText.c_str()},
        {"Sensitivity", u.sensitivityText.c_str()},
        {"Alarm delay", u.alarmDelayText.c_str()},
        {"Return threshold", u.returnThresholdText.c_str()},
        {"Low Battery Warning", u.lowBatteryWarningText.c_str()},
    };
    QList<journal::LabelledValue> list;
    for (const auto& [label, value] : settings)
        list.append({Latin(label), Latin(value)});
    return journal::FormatValues(list);
}

struct Row {
    const char* profile;
    char code;
    // On the window thread before the request is posted: types targets, may change the unit.
    std::function<void(TForm1&)> prepare;
    const char* what;
    std::function<QString(const APCUPS&)> value;  // read the same way before and after
    Outcome outcome;
    const char* reason;  // a part of it; "" for none
    bool changes;        // the value after differs from the one before
    int refuse = -1;     // the byte of the pass the unit answers "NA" (5: the request's first)
};

const auto kNone = [](TForm1&) {};

QString HexPlus(const QString& text, int delta) {
    return QStringLiteral("%1")
        .arg((text.toInt(nullptr, 16) + delta) & 0xFF, 2, 16, QLatin1Char('0'))
        .toUpper();
}

TEST(JournalFeed, OneEntryPerRequestWithItsValuesAndEnd) {
    const auto field = [](auto member) {
        return [member](const APCUPS& u) { return Latin((u.*member).c_str()); };
    };
    const Row rows[] = {
        {"su1000", '8', kNone, "Up Voltage", field(&APCUPS::highTransferText), Outcome::Confirmed,
         "", true},
        {"su1000", 'w', kNone, "Self Test", field(&APCUPS::selfTestIntervalText),
         Outcome::Confirmed, "", true},
        {"su1000", 'y', kNone, "Alarm delay", field(&APCUPS::alarmDelayText), Outcome::Confirmed,
         "", true},
        // The reset: all ten before (one moved off its factory value first) and after.
        {"su1000", 'N', [](TForm1& f) { f.ups->StepHighTransfer(); }, journal::kResetWhat,
         TenSettings, Outcome::Confirmed, "", true},
        {"su1000", 'l',
         [](TForm1& f) { f.ui->Const0->setText(HexPlus(Latin(f.ups->const0Text.c_str()), 2)); },
         "Constant 0", field(&APCUPS::const0Text), Outcome::Confirmed, "", true},
        // A meter target the unit cannot reach: the walk's own end is the reason.
        {"su1000", 'J', [](TForm1& f) { f.ui->InputVoltageConstantSmart->setText("999"); },
         "Input V", field(&APCUPS::inputVoltageText), Outcome::NotReached, "Target not reached",
         true},
        {"su1000", 'j', [](TForm1& f) { f.ui->ID->setText("BENCH7"); }, "UPS ID",
         field(&APCUPS::upsId), Outcome::Confirmed, "", true},
        {"su1000-id-ro", 'j', [](TForm1& f) { f.ui->ID->setText("BENCH7"); }, "UPS ID",
         field(&APCUPS::upsId), Outcome::Refused, "did not accept", false},
        {"su1000", 'P', kNone, "Self Test", [](const APCUPS& u) { return Latin(u.replyBuffer); },
         Outcome::Confirmed, "", true},
        {"su1000", 'W', kNone, "Read EEPROM", [](const APCUPS&) { return QString(); },
         Outcome::Confirmed, "", false},
        // A selection the unit did not take: nothing followed it, and the entry says which.
        {"su1000", '8', kNone, "Up Voltage", field(&APCUPS::highTransferText), Outcome::Refused,
         "did not take the selection of the high transfer voltage", false, 5},
        {"su1000", 'j', [](TForm1& f) { f.ui->ID->setText("BENCH7"); }, "UPS ID",
         field(&APCUPS::upsId), Outcome::Refused, "did not take the selection of the UPS id", false,
         5},
        {"su1000", 'W', kNone, "Read EEPROM", [](const APCUPS&) { return QString(); },
         Outcome::Refused, "did not take the selection of the EEPROM", false, 5},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.profile) + " " + row.code);
        WireRig rig(row.profile);
        TForm1& form = rig.form();
        ASSERT_TRUE(form.journal);
        QString before, after;
        QList<Entry> earlier, now;
        rig.statusPass(
            {{row.code, '-'}},
            [&] {
                after = row.value(*form.ups);
                now = form.journal->Entries();
            },
            [&] {
                row.prepare(form);
                if (row.refuse >= 0)
                    rig.bench().unit().refuseByte(row.refuse);
                before = row.value(*form.ups);
                earlier = form.journal->Entries();
            });
        ASSERT_EQ(now.size(), earlier.size() + 1);
        const Entry& e = now.front();
        EXPECT_EQ(e.kind, journal::Kind::Change);
        EXPECT_EQ(e.what, Latin(row.what));
        EXPECT_EQ(e.outcome, row.outcome) << journal::OutcomeText(e.outcome).toStdString();
        EXPECT_TRUE(e.reason.contains(Latin(row.reason))) << e.reason.toStdString();
        EXPECT_EQ(e.reason.isEmpty(), *row.reason == '\0') << e.reason.toStdString();
        if (row.code == 'P') {
            EXPECT_EQ(e.after, after);  // a command has its reply, nothing before
            EXPECT_FALSE(e.after.isEmpty());
        } else {
            EXPECT_EQ(e.before, before);
            EXPECT_EQ(e.after, after);
        }
        EXPECT_EQ(e.before != e.after, row.changes);
        // The unit as identified, and the connection that began it.
        EXPECT_EQ(e.serialNumber, Latin(form.ups->serialNumber.c_str()).trimmed());
        EXPECT_EQ(e.model, Latin(form.ups->modelName.c_str()).trimmed());
        EXPECT_FALSE(e.serialNumber.isEmpty());
        EXPECT_TRUE(std::any_of(now.begin(), now.end(), [&](const Entry& begin) {
            return begin.kind == journal::Kind::ConnectionBegin && begin.id < e.id &&
                   begin.connection == e.connection;
        }));
        EXPECT_EQ(e.port, QStringLiteral("COM1"));
    }
}

// The connection step of every simulated unit, with every connection option on: each value
// the unit took as changed, and each restart, is an entry of that connection, named as the
// window labels it, and nothing else is.
TEST(JournalFeed, TheConnectionStepsChangesAreEntriesOfTheirConnection) {
    // The journal's name for what the unit changed (the command whose value it took).
    const auto nameOf = [](char target) -> QString {
        switch (target) {
            case 'E':
                return QStringLiteral("Self Test");
            case '0':
                return QStringLiteral("Constant 0");
            case 'Z':
                return QString::fromLatin1(kRestartWhat);
            case 'b':
                return QString::fromLatin1(kModelCodeReadWhat);
            case 'H':
                return QStringLiteral("Hex Code");  // the walk to the next code
            default:
                return QStringLiteral("(a change of %1)").arg(QLatin1Char(target));
        }
    };
    // Profiles whose step must change something, so that the table cannot pass empty.
    const QMap<QString, QStringList> expected = {
        {"su1000", {"Constant 0", QString::fromLatin1(kModelCodeReadWhat), "Self Test"}},
        {"backpro", {QString::fromLatin1(kModelCodeReadWhat)}},
        {"gen2-v2", {"Hex Code", QString::fromLatin1(kRestartWhat), "Self Test"}},
        {"gen2-late", {QString::fromLatin1(kRestartWhat), "Self Test"}},
        {"gen2-test-on", {"Self Test"}},
        {"gen2-no-e", {"Hex Code"}},
        {"su1000-3g", {"Constant 0", "Self Test"}},
    };
    int checked = 0;
    for (const sim::Profile& profile : sim::Profiles()) {
        SCOPED_TRACE(profile.name);
        EngineBench bench(profile.name);
        TForm1& form = bench.form();
        ASSERT_TRUE(form.journal);
        const QList<Entry> earlier = form.journal->Entries();
        const qint64 last = earlier.isEmpty() ? 0 : earlier.front().id;
        for (QAction* option : {form.ui->SelfTestON1, form.ui->AUTO1, form.ui->HexCodeON})
            option->setChecked(true);
        bench.connectUnit();
        // Walks the step posted run on the poll thread: a pass with the queue empty follows.
        bool idle = false;
        for (int pass = 0; pass < 60 && !idle; ++pass)
            ASSERT_TRUE(bench.atRefresh([&] { idle = form.requestQueue->IsEmpty(); }));
        ASSERT_TRUE(bench.atRefresh([] {}));

        QStringList changed;
        for (const sim::Exchange& x : bench.unit().log()) {
            QString name;
            if (x.taken == sim::Taken::Changed)
                name = nameOf(x.target);
            else if (x.command == 'Z')
                name = nameOf('Z');
            if (!name.isEmpty() && !changed.contains(name))
                changed.append(name);
        }
        QStringList journaled;
        QString connection;
        for (const Entry& e : form.journal->Entries()) {
            if (e.id <= last)
                break;
            if (e.kind == journal::Kind::ConnectionBegin)
                connection = e.connection;
            else if (!journaled.contains(e.what))
                journaled.append(e.what);
        }
        for (const Entry& e : form.journal->Entries()) {
            if (e.id > last) {
                EXPECT_EQ(e.connection, connection) << e.what.toStdString();
            }
        }
        changed.sort();
        journaled.sort();
        EXPECT_EQ(journaled, changed);
        if (expected.contains(QString::fromStdString(profile.name))) {
            EXPECT_EQ(changed, expected[QString::fromStdString(profile.name)]);
            ++checked;
        }
    }
    EXPECT_EQ(checked, expected.size());
}

// A reset is found again as the unit's last one, its ten values before it as they were.
TEST(JournalFeed, ResetIsTheUnitsLastResetWithItsTenValuesBefore) {
    WireRig rig("su1000");
    TForm1& form = rig.form();
    QString tenBefore;
    rig.statusPass({{'N', '-'}}, nullptr, [&] {
        form.ups->StepShutdownDelay();
        form.ups->StepSensitivity();
        tenBefore = TenSettings(*form.ups);
    });
    const auto reset =
        form.journal->LastReset(form.ups->family, Latin(form.ups->modelName.c_str()).trimmed(),
                                Latin(form.ups->serialNumber.c_str()).trimmed());
    ASSERT_TRUE(reset.has_value());
    EXPECT_EQ(reset->before, tenBefore);
    EXPECT_EQ(journal::ParseValues(reset->before).size(), 10);
    EXPECT_NE(reset->after, tenBefore);
}

// A journal that cannot be written: the status bar says so once, the work on the unit goes on;
// when it can be written again, that is said once too.
TEST(JournalFeed, UnwritableJournalIsToldOnceAndTheWorkGoesOnUntilItIsWrittenAgain) {
    QTemporaryDir dir;
    const QByteArray saved = qgetenv("XDG_DATA_HOME");
    // A file where the data folder should be.
    QFile blocker(dir.filePath(QStringLiteral("data")));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    qputenv("XDG_DATA_HOME", blocker.fileName().toLocal8Bit());
    {
        WireRig rig("su1000");
        TForm1& form = rig.form();
        std::string first, second;
        QString status;
        first = rig.statusPass({{'8', '-'}});
        EXPECT_TRUE(EngineBench::waitFor([&] {
            return form.statusText().startsWith(
                QStringLiteral("The service journal cannot be written: "));
        }));
        form.setStatusText(QStringLiteral("mark"));
        second = rig.statusPass({{'8', '-'}});
        EngineBench::waitFor([] { return false; }, 200);
        EXPECT_EQ(form.statusText(), QStringLiteral("mark"));
        // Both steps went to the unit as without a journal.
        EXPECT_EQ(first, "u/3 -/2 u/3");
        EXPECT_EQ(second, first);
        // The folder can be made again: the next entry is written, and that is said once.
        ASSERT_TRUE(blocker.remove());
        EXPECT_EQ(rig.statusPass({{'8', '-'}}), first);
        EXPECT_TRUE(EngineBench::waitFor([&] {
            return form.statusText() == QStringLiteral("The service journal is written again.");
        }));
        form.setStatusText(QStringLiteral("mark"));
        rig.statusPass({{'8', '-'}});
        form.journal->Flush();
        EngineBench::waitFor([] { return false; }, 200);
        EXPECT_EQ(form.statusText(), QStringLiteral("mark"));
        EXPECT_EQ(form.journal->Entries(Latin(form.ups->serialNumber.c_str()).trimmed()).size(), 2);
    }
    qputenv("XDG_DATA_HOME", saved);
}

// The journal window: the connected unit's entries newest first, the search, both exports.
TEST(JournalWindow, ShowsSearchesAndExportsTheConnectedUnitsEntries) {
    WireRig rig("su1000");
    TForm1& form = rig.form();
    rig.statusPass({{'8', '-'}, {'y', '-'}});
    form.ui->ServiceJournal->trigger();
    auto* window = form.findChild<JournalWindow*>(QStringLiteral("JournalWindow"));
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(EngineBench::waitFor([&] { return !window->loading(); }));
    auto* table = window->findChild<QTableView*>(QStringLiteral("JournalEntries"));
    ASSERT_NE(table, nullptr);
    const QString serial = Latin(form.ups->serialNumber.c_str()).trimmed();
    const auto column = [&](int c) {
        QStringList texts;
        for (int r = 0; r < table->model()->rowCount(); ++r)
            texts.append(table->model()->index(r, c).data().toString());
        return texts;
    };
    // This connection's, newest first; earlier rigs' entries belong to the same serial number.
    ASSERT_GE(table->model()->rowCount(), 3);
    EXPECT_EQ(column(4).mid(0, 3),
              (QStringList{"Alarm delay", "Up Voltage", "Connection: " + form.textConnected}));
    for (const QString& s : column(2))
        EXPECT_EQ(s, serial);

    // Typing reads nothing until it pauses; then the entries found.
    auto* search = window->findChild<QLineEdit*>(QStringLiteral("JournalSearch"));
    const int rows = table->model()->rowCount();
    for (const QString& typed :
         {QStringLiteral("a"), QStringLiteral("alarm"), QStringLiteral("alarm DELAY")}) {
        search->setText(typed);
        EXPECT_FALSE(window->loading());
        EXPECT_EQ(table->model()->rowCount(), rows);
    }
    EXPECT_TRUE(EngineBench::waitFor(
        [&] { return !window->loading() && !column(4).contains(QStringLiteral("Up Voltage")); }));
    EXPECT_TRUE(column(4).contains(QStringLiteral("Alarm delay")));
    search->clear();
    ASSERT_TRUE(EngineBench::waitFor(
        [&] { return !window->loading() && table->model()->rowCount() == rows; }));

    QTemporaryDir dir;
    for (const char* name : {"report.csv", "report.pdf"}) {
        SCOPED_TRACE(name);
        const QString path = dir.filePath(Latin(name));
        window->chooseExportFile = [path] { return path; };
        window->findChild<QPushButton*>(QStringLiteral("JournalExport"))->click();
        EXPECT_TRUE(window->exporting());
        ASSERT_TRUE(EngineBench::waitFor([&] { return !window->exporting(); }));
        EXPECT_TRUE(window->findChild<QLabel*>(QStringLiteral("JournalStatus"))
                        ->text()
                        .startsWith(QStringLiteral("Exported ")));
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        if (path.endsWith(QLatin1String(".pdf"))) {
            EXPECT_TRUE(bytes.startsWith("%PDF-"));
        } else {
            // The header and a line per row; a reset's values break lines inside their quotes.
            const QList<QByteArray> lines = bytes.split('\r');
            EXPECT_EQ(bytes.count("\r\n"), table->model()->rowCount() + 1);
            EXPECT_TRUE(
                lines[1].startsWith("\n" + window->shown().front().when.toUtf8() + ",Change,"));
            EXPECT_TRUE(lines[1].contains(",Alarm delay,"));
        }
    }
    // The report: the unit, its readings at the connection and now, each change.
    const QString report = ServiceReportHtml(window->shown(), form.shownReadings());
    EXPECT_TRUE(report.contains(QStringLiteral("Serial number: ") + serial));
    const journal::Entry& change = window->shown().front();
    EXPECT_TRUE(report.contains(
        QStringLiteral("<td>Alarm delay</td><td>%1</td><td>%2</td><td>Confirmed</td>")
            .arg(change.before.toHtmlEscaped(), change.after.toHtmlEscaped())));
    const journal::Entry& first = window->shown()[1];
    EXPECT_TRUE(report.contains(
        QStringLiteral("<td>Up Voltage</td><td>%1</td><td>%2</td>").arg(first.before, first.after)))
        << report.toStdString();
    // The readings now include the unit's own page, though the "Status" page is in front.
    EXPECT_TRUE(
        report.contains(QStringLiteral("<tr><td>Up Voltage</td><td>%1</td></tr>").arg(first.after)))
        << report.toStdString();
    window->close();
}

// A journal larger than a page: the window reads the newest page, the next ones as the table
// scrolls to them, counts them all, and exports them all; an export can be cancelled.
TEST(JournalWindow, ReadsAPageAtATimeAndExportsInTheBackground) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("journal.sqlite"));
    const int total = 2 * JournalWindow::kPageSize + 50;
    {
        journal::Journal journal(path);
        for (int i = 0; i < total; ++i) {
            Entry e;
            e.serialNumber = i % 2 ? QStringLiteral("ODD") : QStringLiteral("EVEN");
            e.what = QString::number(i);
            journal.Record(e);
        }
    }
    journal::Journal journal(path);
    JournalWindow window(journal, QString(), [] { return QString(); });
    window.show();
    auto* table = window.findChild<QTableView*>(QStringLiteral("JournalEntries"));
    auto* status = window.findChild<QLabel*>(QStringLiteral("JournalStatus"));
    ASSERT_TRUE(EngineBench::waitFor([&] { return !window.loading(); }));
    EXPECT_EQ(window.shown().size(), JournalWindow::kPageSize);
    EXPECT_EQ(status->text(), QStringLiteral("%1 entries").arg(total));
    EXPECT_EQ(window.shown().front().what, QString::number(total - 1));
    // Scrolled to the end, page after page, until the oldest is there, each once.
    for (int i = 0; i < 10 && window.shown().size() < total; ++i) {
        table->scrollToBottom();
        ASSERT_TRUE(EngineBench::waitFor([&] { return !window.loading(); }));
    }
    ASSERT_EQ(window.shown().size(), total);
    for (int i = 0; i < total; ++i)
        ASSERT_EQ(window.shown()[i].what, QString::number(total - 1 - i));

    // Every entry goes out, not only those read: the export reads its own.
    window.refresh();
    ASSERT_TRUE(EngineBench::waitFor([&] { return !window.loading(); }));
    const QString csv = dir.filePath(QStringLiteral("all.csv"));
    ASSERT_TRUE(window.exportTo(csv));
    EXPECT_FALSE(window.exportTo(csv)) << "one export at a time";
    ASSERT_TRUE(EngineBench::waitFor([&] { return !window.exporting(); }));
    QFile file(csv);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll().count("\r\n"), total + 1);

    // A cancel while the export waits for the journal: nothing is written. The export waits
    // behind an entry the writer cannot yet commit, another program holding the file.
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(QFile::encodeName(path).constData(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
    journal.Record(Entry{});
    const QString cancelled = dir.filePath(QStringLiteral("cancelled.csv"));
    ASSERT_TRUE(window.exportTo(cancelled));
    window.findChild<QPushButton*>(QStringLiteral("JournalExportCancel"))->click();
    sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(other);
    ASSERT_TRUE(EngineBench::waitFor([&] { return !window.exporting(); }));
    EXPECT_EQ(status->text(), QStringLiteral("Export cancelled."));
    EXPECT_FALSE(QFile::exists(cancelled));
}

// "Shared journal...": the server chosen in its dialog is kept in the settings, the journal
// reopens on it, and the status bar says whether it is shared or waits for its server; the
// command line's server wins over the setting.
TEST(SharedJournalSetting, ChosenInItsDialogAndToldOnTheStatusBar) {
    journal::PgServer& server = journal::PgServer::Shared();
    ASSERT_TRUE(server.error().isEmpty()) << server.error().toStdString();
    const QString database = server.newDatabase();
    ASSERT_FALSE(database.isEmpty()) << server.error().toStdString();
    QTemporaryDir nowhere;
    const QString unreachable = QStringLiteral("host=%1 port=1 dbname=none").arg(nowhere.path());
    TForm1 form;
    const auto choose = [&](const QString& text) {
        form.ui->SharedJournal->trigger();
        auto* dialog = form.findChild<QDialog*>(QStringLiteral("SharedJournalDialog"));
        ASSERT_NE(dialog, nullptr);
        auto* field = dialog->findChild<QLineEdit*>(QStringLiteral("JournalServer"));
        auto* buttons =
            dialog->findChild<QDialogButtonBox*>(QStringLiteral("SharedJournalButtons"));
        ASSERT_TRUE(field != nullptr && buttons != nullptr);
        field->setText(text);
        buttons->button(QDialogButtonBox::Ok)->click();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_EQ(form.findChild<QDialog*>(QStringLiteral("SharedJournalDialog")), nullptr);
    };
    const auto statusBecomes = [&](const QString& text) {
        return EngineBench::waitFor([&] { return form.statusText() == text; });
    };
    const auto record = [&](const char* what) {
        Entry e;
        e.serialNumber = QStringLiteral("AS9");
        e.what = Latin(what);
        form.journal->Record(e);
        form.journal->Flush();
    };

    choose(database);
    EXPECT_EQ(form.journalServer(), database);
    EXPECT_TRUE(
        statusBecomes("Service journal shared on " + journal::Journal::ServerName(database)))
        << form.statusText().toStdString();
    record("on the server");
    EXPECT_EQ(journal::Query(database, QStringLiteral("SELECT what FROM entries")),
              QList<QStringList>{{"on the server"}});

    choose(unreachable);
    const QString name = journal::Journal::ServerName(unreachable);
    EXPECT_TRUE(statusBecomes("Journal server " + name +
                              " cannot be reached: 0 entries kept here, sent when it can"))
        << form.statusText().toStdString();
    record("kept here");
    EXPECT_TRUE(statusBecomes("Journal server " + name +
                              " cannot be reached: 1 entry kept here, sent when it can"))
        << form.statusText().toStdString();

    choose(QString());
    EXPECT_EQ(form.statusText(),
              QStringLiteral("The service journal is kept in this computer's file only."));
    EXPECT_EQ(form.journal->sharing(), journal::Journal::Sharing::LocalOnly);
    // The same again changes nothing, and says nothing.
    form.setStatusText(QStringLiteral("mark"));
    choose(QString());
    EXPECT_EQ(form.statusText(), QStringLiteral("mark"));

    // A window made with a server on the command line uses it, whatever the setting says; the
    // setting is kept for later runs.
    TForm1::SetCommandLineJournalServer(database);
    {
        TForm1 commanded;
        EXPECT_EQ(commanded.journalServer(), database);
        EXPECT_TRUE(EngineBench::waitFor(
            [&] { return commanded.journal->sharing() == journal::Journal::Sharing::Shared; }));
        commanded.ui->SharedJournal->trigger();
        auto* dialog = commanded.findChild<QDialog*>(QStringLiteral("SharedJournalDialog"));
        ASSERT_NE(dialog, nullptr);
        EXPECT_NE(dialog->findChild<QLabel*>(QStringLiteral("JournalServerNote")), nullptr);
        dialog->findChild<QLineEdit*>(QStringLiteral("JournalServer"))->setText(unreachable);
        dialog->findChild<QDialogButtonBox*>(QStringLiteral("SharedJournalButtons"))
            ->button(QDialogButtonBox::Ok)
            ->click();
        EXPECT_EQ(commanded.journalServer(), database);
        EngineBench::waitFor([] { return false; }, 200);
        EXPECT_EQ(commanded.journal->sharing(), journal::Journal::Sharing::Shared);
    }
    TForm1::SetCommandLineJournalServer(std::nullopt);
    TForm1 later;
    EXPECT_EQ(later.journalServer(), unreachable);
}

}  // namespace
}  // namespace morlen::test
