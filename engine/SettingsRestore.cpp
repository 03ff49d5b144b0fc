// The restore of saved settings on the poll thread: each setting of the plan its request
// carries is stepped with its own button's request until it reads the saved value, each step
// read back.
#include <QStringList>
#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "JournalEntry.h"
#include "RequestHandling.h"
#include "UnitSettings.h"

namespace morlen {

void RequestHandler::AddRestoreRows() {
    add(Request::RestoreSettings, [this](char) {
        // Taken before the first step: each step is a request of its own.
        const std::vector<RestoreTarget> plan = std::move(restorePlan_);
        restorePlan_.clear();
        if (plan.empty())
            return;
        int reached = 0;
        QStringList missed;
        QList<journal::LabelledValue> before, after;
        for (const RestoreTarget& target : plan) {
            // The plan comes from the window: a step goes only to a setting of the table, by
            // a request of its own button, never to another setting or command.
            if (target.index < 0 || target.index >= kStoredSettingCount) {
                missed << QStringLiteral("setting %1: no stored setting").arg(target.index);
                continue;
            }
            const StoredSetting& setting = StoredSettings()[std::size_t(target.index)];
            const QString label = QLatin1String(setting.label);
            const auto ownButton = [&](const SettingPlace& place) {
                return place.button != nullptr && char(place.request) == target.code;
            };
            if (std::none_of(std::begin(setting.places), std::end(setting.places), ownButton)) {
                missed << label + QStringLiteral(": not a step of this setting");
                continue;
            }
            // A close of the window waits for no more than the step in hand.
            before.append({label, QString::fromLatin1(setting.value(ups_))});
            if (handOff_.StopRequested()) {
                missed << QStringLiteral("%1: not begun").arg(label);
                after.append(before.back());
                continue;
            }
            // Each step is the button's own request, carried out as a click would be.
            const RestoreResult result = RestoreSetting(
                target, [&] { return std::string((ups_.*setting.read)()); },
                [&](char sign) {
                    Handle(Request(target.code), sign);
                    return std::string(setting.value(ups_));
                },
                [this] { return handOff_.StopRequested(); });
            after.append({label, QString::fromLatin1(result.value)});
            if (result.end == RestoreEnd::Reached) {
                ++reached;
            } else {
                missed << label + QStringLiteral(": ") + RestoreEndText(result);
            }
        }
        // Each step's refused selection was told and journaled with its step: the summary, not
        // the last of them, is the restore's word.
        ups_.ClearSelection();
        QString summary = QStringLiteral("Settings restored: %1 of %2.")
                              .arg(reached)
                              .arg(static_cast<int>(plan.size()));
        if (!missed.isEmpty())
            summary += QStringLiteral(" Not restored: ") + missed.join(QStringLiteral("; ")) +
                       QLatin1Char('.');
        onWindow([&](View& view) { view.showRequestNote(summary); });

        // Each step is in the journal already; the summary ends the restore there.
        journal::Entry entry;
        entry.what = QLatin1String(kRestoreWhat);
        entry.before = journal::FormatValues(before);
        entry.after = journal::FormatValues(after);
        entry.outcome =
            missed.isEmpty() ? journal::Outcome::Confirmed : journal::Outcome::NotReached;
        entry.reason = missed.join(QStringLiteral("; "));
        journal_.Record(ups_, std::move(entry));
    });
}

}  // namespace morlen
