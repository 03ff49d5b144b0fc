#include "EngineBench.h"

#include <QComboBox>
#include <QLineEdit>
#include <QTimer>

#include "RequestHandling.h"

namespace morlen::test {

EngineBench::EngineBench(const std::string& profile) {
    qputenv("XDG_CONFIG_HOME", config_.path().toLocal8Bit());
    unit_ = std::make_unique<sim::SimUps>(clock_, profile);
    form_ = new TForm1;  // frees itself when closed
    auto line = unit_->makeLine();
    line_ = line.get();
    form_->ups = std::make_unique<APCUPS>(std::move(line), clock_);
    auto tone = std::make_unique<CountingTone>(clock_);
    tone_ = tone.get();
    form_->tone = std::move(tone);
    form_->errorBox = [this](const QString& text, const QString&) { errors_.push_back(text); };
}

EngineBench::~EngineBench() {
    if (!form_.isNull()) {
        form_->close();
        waitFor([this] { return form_.isNull(); });
        if (!form_.isNull())
            delete form_.data();
    }
}

QString EngineBench::settingsFile() const {
    return config_.path() + QStringLiteral("/Pelloran/Morlen.conf");
}

void EngineBench::connectUnit() {
    ui().ComboBox1->setCurrentIndex(0);
    form_->ComboBox1Change();
}

bool EngineBench::waitFor(const std::function<bool()>& done, int ms) {
    QElapsedTimer timer;
    timer.start();
    // Sleeps until an event comes (the poll thread's hand-offs wake it at once), and at least
    // every few milliseconds to look at `done` and the time.
    QTimer tick;
    tick.start(2);
    while (!done()) {
        if (timer.elapsed() > ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    return true;
}

bool EngineBench::atRefresh(const std::function<void()>& look, int ms) {
    return atRefreshes({look}, ms);
}

bool EngineBench::atRefreshes(const std::vector<std::function<void()>>& looks, int ms) {
    std::size_t next = 0;
    const auto connection = QObject::connect(form_.data(), &TForm1::displayRefreshed, [&] {
        if (next < looks.size())
            looks[next++]();
    });
    const bool ok = waitFor([&] { return next == looks.size(); }, ms);
    QObject::disconnect(connection);
    return ok;
}

void PostRequest(TForm1& form, char code, char argument) {
    // The walks' codes and, in the same order, the fields whose Enter posts them.
    static const std::string walks = "!@UZVlmnopqrHIJKLstQ";
    static const QStringList entries =
        QStringLiteral(
            "ConstCTRLD Const_3 Const_4 Const_5 Const_6 Const0 Const4 Const5 Const6 Const02nd "
            "Const52nd Const62nd LoadSmartConst LoadSmart2nd InputVoltageConstantSmart "
            "InputVoltageConstantSmart2nd InputVoltageConstantBP BatSmart2nd ModelConst ModelConst")
            .split(QLatin1Char(' '));
    const std::size_t walk = walks.find(code);
    if (walk == std::string::npos) {
        form.requestQueue->Push(code, argument);
        return;
    }
    const QString text = form.findChild<QLineEdit*>(entries[qsizetype(walk)])->text();
    form.requestQueue->Push(code, argument, text.toLatin1().toStdString());
}

void PostRestore(TForm1& form, std::vector<RestoreTarget> plan) {
    form.requestQueue->Push(char(Request::RestoreSettings), '-', std::nullopt, std::move(plan));
}

std::vector<APCommandToSend> RequeueRequests(Queue& queue) {
    std::vector<APCommandToSend> taken;
    while (!queue.IsEmpty()) {
        taken.push_back(queue.Front());
        queue.Pop();
    }
    for (const APCommandToSend& q : taken)
        queue.Push(q.code, q.argument, q.target, q.restore);
    return taken;
}

std::string EngineBench::takeCommands() {
    std::string out;
    const auto& log = unit_->log();
    for (; seen_ < log.size(); ++seen_)
        out.push_back(static_cast<char>(log[seen_].command));
    return out;
}

}  // namespace morlen::test
