#include "PortFailureText.h"

#include <QStringList>

namespace morlen {

namespace {

QString local(const std::string& text) {
    return QString::fromLocal8Bit(text.c_str());
}

// Groups whose members may do far more than use a serial port: joining one to reach a device
// would hand the user the system's administration, its disks, logs, memory or terminals.
bool privilegedGroup(const QString& group) {
    static const QStringList privileged = {
        QStringLiteral("root"),   QStringLiteral("wheel"),  QStringLiteral("sudo"),
        QStringLiteral("admin"),  QStringLiteral("adm"),    QStringLiteral("disk"),
        QStringLiteral("shadow"), QStringLiteral("staff"),  QStringLiteral("kmem"),
        QStringLiteral("sys"),    QStringLiteral("tty"),    QStringLiteral("docker"),
        QStringLiteral("lxd"),    QStringLiteral("libvirt")};
    return privileged.contains(group);
}

bool allDigits(const QString& text) {
    for (const QChar c : text) {
        if (!c.isDigit())
            return false;
    }
    return !text.isEmpty();
}

// Texts are joined, never substituted: a device path or a program name may hold "%1".
QString permissionText(const OpenFailure& failure, const QString& device) {
    const QString group = local(failure.group);
    const bool groupReadsAndWrites = (failure.mode & 060) == 060;
    if (groupReadsAndWrites && !allDigits(group) && !privilegedGroup(group)) {
        return QStringLiteral("You have no permission to use ") + device +
               QStringLiteral(". Add your user to its group \"") + group +
               QStringLiteral("\" (sudo usermod -aG ") + group +
               QStringLiteral(" $USER), then log out and log in again.");
    }
    QString owner;
    if (!failure.owner.empty() || !failure.group.empty()) {
        owner = QStringLiteral(" It belongs to user \"") + local(failure.owner) +
                QStringLiteral("\" and group \"") + group + QStringLiteral("\", mode ") +
                QString::number(failure.mode, 8).rightJustified(3, QLatin1Char('0')) +
                QLatin1Char('.');
    }
    return QStringLiteral("You have no permission to use ") + device + QLatin1Char('.') + owner +
           QStringLiteral(
               " An administrator must give you access, for example with a udev rule that puts "
               "it in the group \"dialout\" with mode 660; then add your user to \"dialout\" "
               "and log in again.");
}

}  // namespace

QString OpenFailureText(const OpenFailure& failure) {
    const QString device = local(failure.device);
    switch (failure.reason) {
        case OpenFailure::Reason::None:
            break;
        case OpenFailure::Reason::PermissionDenied:
            return permissionText(failure, device);
        case OpenFailure::Reason::HeldByOther: {
            QString holder = QStringLiteral("another program");
            if (failure.holderPid != 0) {
                if (!failure.holder.empty())
                    holder = local(failure.holder);
                holder += QStringLiteral(" (process ") + QString::number(failure.holderPid) +
                          QLatin1Char(')');
            }
            return device + QStringLiteral(" is in use by ") + holder +
                   QStringLiteral(
                       ", for example a UPS monitoring daemon. Stop it first, then choose the "
                       "port again.");
        }
        case OpenFailure::Reason::NoDevice:
            if (device.isEmpty())
                return QStringLiteral("No port is chosen.");
            return QStringLiteral("There is no device ") + device +
                   QStringLiteral(": the adapter is not plugged in, or the name points nowhere.");
        case OpenFailure::Reason::Other:
            return device + QStringLiteral(": ") + local(failure.message);
    }
    return {};
}

}  // namespace morlen
