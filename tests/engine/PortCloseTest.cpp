// Closing the window ends the conversation with the unit and releases the port.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "EngineBench.h"
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

}  // namespace
}  // namespace morlen::test
