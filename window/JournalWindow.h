#pragma once

#include <QDialog>
#include <QList>
#include <QString>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

#include "JournalEntry.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTableView;
class QTimer;

namespace morlen {

namespace journal {
class Journal;
}

// The printable service report of some journal entries, as HTML: the unit's identity, its
// readings when the connection began and now, and each change with before, after and how it
// ended. `readingsNow` is empty when the unit is not connected.
QString ServiceReportHtml(const QList<journal::Entry>& entries, const QString& readingsNow);
// Prints the HTML into a PDF file, the unit (model, serial number) in every page's header.
// False when the file cannot be written.
bool WritePdf(const QString& html, const QString& path, const QString& model = {},
              const QString& serialNumber = {});

// The "Service journal" window: the entries newest first, of the connected unit or of any
// unit by serial number, with a search, and their export. The journal is read off the window
// thread, a page at a time as the table is scrolled; a search is read once typing pauses. The
// export runs there too, with a progress bar and a cancel: the window thread only ever takes
// finished pages.
class JournalWindow : public QDialog {
    Q_OBJECT

public:
    // Entries read at a time, and the pause in typing that starts a search.
    static constexpr int kPageSize = 200;
    static constexpr int kSearchDelayMs = 250;

    // `connectedSerial` is empty when no unit is connected; `readingsNow` gives the connected
    // unit's readings as the window shows them.
    JournalWindow(journal::Journal& journal, QString connectedSerial,
                  std::function<QString()> readingsNow, QWidget* parent = nullptr);
    // Waits for a read under way to end: an export under way is cancelled first.
    ~JournalWindow() override;

    // Reads the entries again for the chosen unit and search, from the newest.
    void refresh();
    // The entries read so far, newest first: the first page, and more as the table scrolls.
    const QList<journal::Entry>& shown() const;
    // A page, the count or the unit list is still being read.
    bool loading() const;
    // Starts writing every entry of the chosen unit and search: a PDF service report when the
    // name ends in ".pdf", else CSV. False when an export is already under way. The window's
    // status line says how it ended, and exportEnded() tells it.
    bool exportTo(const QString& path);
    bool exporting() const { return exporting_; }
    // Asks where to export; empty when cancelled. Tests replace it.
    std::function<QString()> chooseExportFile;

signals:
    void exportEnded(bool written);

private:
    void exportClicked();
    void showStatus(const QString& text);
    void fetchPage();
    // Runs `work` off the window thread, then `done` with its result here, unless the window
    // has read again (another unit or search) meanwhile.
    template <typename Work, typename Done>
    void read(Work work, Done done);
    // Runs `work` on the journal windows' reading thread; `post` hands a call from it to the
    // window, unless the window is closing.
    void run(std::function<void()> work);
    void post(std::function<void()> toWindow);
    void endExport(bool written, const QString& text);

    journal::Journal& journal_;
    const QString connectedSerial_;
    std::function<QString()> readingsNow_;
    QComboBox* unit_;
    QLineEdit* search_;
    QTableView* table_;
    QLabel* status_;
    QProgressBar* progress_;
    QPushButton* cancel_;
    class EntryModel* model_;
    QTimer* searchDelay_;
    // What the reading tasks share with the window: it, while it lives, and how many run.
    struct Tasks {
        std::mutex mutex;
        std::condition_variable idle;
        JournalWindow* window = nullptr;
        int running = 0;
    };
    std::shared_ptr<Tasks> tasks_;
    // What the pages read belong to: a new unit or search makes earlier answers stale.
    int generation_ = 0;
    int pending_ = 0;
    bool fetching_ = false;
    bool exporting_ = false;
    std::shared_ptr<std::atomic<bool>> cancelExport_;
};

}  // namespace morlen
