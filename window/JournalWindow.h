#pragma once

#include <QDialog>
#include <QList>
#include <QString>
#include <functional>

#include "JournalEntry.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QTableWidget;

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
// unit by serial number, with a search, and their export.
class JournalWindow : public QDialog {
    Q_OBJECT

public:
    // `connectedSerial` is empty when no unit is connected; `readingsNow` gives the connected
    // unit's readings as the window shows them.
    JournalWindow(journal::Journal& journal, QString connectedSerial,
                  std::function<QString()> readingsNow, QWidget* parent = nullptr);

    // Reads the entries again for the chosen unit and search.
    void refresh();
    const QList<journal::Entry>& shown() const { return shown_; }
    // Writes the shown entries: a PDF service report when the name ends in ".pdf", else CSV.
    // False (with the reason in the window's status line) when the file cannot be written.
    bool exportTo(const QString& path);
    // Asks where to export; empty when cancelled. Tests replace it.
    std::function<QString()> chooseExportFile;

private:
    void exportClicked();
    void showStatus(const QString& text);

    journal::Journal& journal_;
    const QString connectedSerial_;
    std::function<QString()> readingsNow_;
    QComboBox* unit_;
    QLineEdit* search_;
    QTableWidget* table_;
    QLabel* status_;
    QList<journal::Entry> shown_;
};

}  // namespace morlen
