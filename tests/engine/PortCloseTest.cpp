// Closing the window ends the conversation with the unit and releases the port.
#include <gtest/gtest.h>

#include <QLineEdit>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "EngineBench.h"
#include "RequestHandling.h"
#include "SerialPort.h"
#include "WireLog.h"

namespace morlen::test {
namespace {

// A port that notes in the log when it is opened and closed, and passes everything on.
class NotedPort final : public SerialPort {
public:
    NotedPort(std::unique_ptr<SerialPort> port, WireLog& log) : port_(std::move(port)), log_(log) {}
    bool open(const std::string& name) override {
        const bool ok = port_->open(name);
        log_.note(ok ? "open" : "open failed");
        return ok;
    }
    bool close() override {
        const bool ok = port_->close();
        log_.note(ok ? "close" : "close failed");
        return ok;
    }
    bool isOpen() const override { return port_->isOpen(); }
    bool configure() override { return port_->configure(); }
    void setTimeouts(const PortTimeouts& t) override { port_->setTimeouts(t); }
    bool writeByte(std::uint8_t byte) override { return port_->writeByte(byte); }
    void purgeReceive() override { port_->purgeReceive(); }
    std::size_t read(std::uint8_t* buffer, std::size_t count) override {
        return port_->read(buffer, count);
    }

private:
    std::unique_ptr<SerialPort> port_;
    WireLog& log_;
};

TEST(PortClose, ClosingTheWindowTakesTheUnitOutOfSmartModeThenClosesThePort) {
    auto bench = std::make_unique<EngineBench>("su1000");
    WireLog log(bench->clock());
    TForm1& form = bench->form();
    form.ups = std::make_unique<APCUPS>(std::make_unique<NotedPort>(bench->unit().makeLine(), log),
                                        log.clock());
    log.attach(*form.ups);
    bench->connectUnit();
    ASSERT_TRUE(bench->atRefresh([] {}));
    const std::size_t from = log.size();
    form.close();
    ASSERT_TRUE(EngineBench::waitFor([&] { return bench->formGone(); }));
    const std::string after = log.since(from);
    // The last pass ends with its link check; then "R", and the port is released once.
    const std::string end = "Y/2 R/3 close";
    ASSERT_GE(after.size(), end.size()) << after;
    EXPECT_EQ(after.substr(after.size() - end.size()), end) << after;
    EXPECT_EQ(after.find("close"), after.size() - 5) << after;
}

// The close reaches a long exchange through the window and its poll thread: the walk or the
// restore stops after the step under way, then "R" is the last thing the unit hears.
TEST(PortClose, ClosingDuringAWalkOrARestoreStopsItAfterTheStepUnderWay) {
    struct Row {
        const char* what;
        const char* watched;  // the field each step shows its value in
        int closeAt;          // the step during which the window is closed
        std::function<void(TForm1&)> post;
        std::function<void(const sim::UpsModel&)> look;
    };
    const Row rows[] = {
        // Constant "0" from A0 toward 10: 144 steps, unless the close comes.
        {"walk", "Const0", 3,
         [](TForm1& form) {
             form.ui->Const0->setText(QStringLiteral("10"));
             PostRequest(form, 'l', '-');
         },
         [](const sim::UpsModel& unit) { EXPECT_EQ(unit.constant('0').value_or(0), 0xA0 - 3); }},
        // The low transfer voltage needs two steps, the output voltage one after it.
        {"restore", "LowTransferVoltage", 1,
         [](TForm1& form) {
             form.post(Request::RestoreSettings, '-', std::nullopt,
                       {{1, '9', "200", {}}, {2, 'a', "240", {}}});
         },
         [](const sim::UpsModel& unit) {
             EXPECT_EQ(unit.setting('l'), "204");
             EXPECT_EQ(unit.setting('o'), "230");
         }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        auto bench = std::make_unique<EngineBench>("su1000");
        bench->unit().model().setDrift(false);
        bench->connectUnit();
        TForm1& form = bench->form();
        int steps = 0;
        ASSERT_TRUE(bench->atRefresh([&] {
            row.post(form);
            QObject::connect(form.findChild<QLineEdit*>(QLatin1String(row.watched)),
                             &QLineEdit::textChanged, &form, [&] {
                                 if (++steps == row.closeAt)
                                     form.close();
                             });
        }));
        ASSERT_TRUE(EngineBench::waitFor([&] { return bench->formGone(); }));
        EXPECT_EQ(steps, row.closeAt) << "no step shown after the close";
        row.look(bench->unit().model());
        EXPECT_EQ(bench->unit().log().back().command, 'R');
    }
}

}  // namespace
}  // namespace morlen::test
