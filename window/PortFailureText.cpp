#include "PortFailureText.h"

namespace morlen {

QString OpenFailureText(const OpenFailure& failure) {
    const QString device = QString::fromLocal8Bit(failure.device.c_str());
    switch (failure.reason) {
        case OpenFailure::Reason::None:
            break;
        case OpenFailure::Reason::PermissionDenied: {
            const QString group = failure.group.empty()
                                      ? QStringLiteral("dialout")
                                      : QString::fromLocal8Bit(failure.group.c_str());
            return QStringLiteral(
                       "You have no permission to use %1. Add your user to its group \"%2\" "
                       "(sudo usermod -aG %2 $USER), then log out and log in again.")
                .arg(device, group);
        }
        case OpenFailure::Reason::HeldByOther:
            if (failure.holderPid != 0) {
                const QString holder = failure.holder.empty()
                                           ? QStringLiteral("another program")
                                           : QString::fromLocal8Bit(failure.holder.c_str());
                return QStringLiteral(
                           "%1 is in use by %2 (process %3), for example a UPS monitoring "
                           "daemon. Stop it first, then choose the port again.")
                    .arg(device, holder)
                    .arg(failure.holderPid);
            }
            return QStringLiteral(
                       "%1 is in use by another program, for example a UPS monitoring daemon. "
                       "Stop it first, then choose the port again.")
                .arg(device);
        case OpenFailure::Reason::NoDevice:
            if (device.isEmpty())
                return QStringLiteral("No port is chosen.");
            return QStringLiteral(
                       "There is no device %1: the adapter is not plugged in, or the name "
                       "points nowhere.")
                .arg(device);
        case OpenFailure::Reason::Other:
            return QStringLiteral("%1: %2").arg(device,
                                                QString::fromLocal8Bit(failure.message.c_str()));
    }
    return {};
}

}  // namespace morlen
