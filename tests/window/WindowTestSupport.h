#pragma once

#include <QString>
#include <QTemporaryDir>
#include <QWidget>

// Points XDG_CONFIG_HOME at a fresh temporary folder for one test, so that every test starts
// without settings and the user's own are never touched.
class ScratchConfig {
public:
    ScratchConfig() { qputenv("XDG_CONFIG_HOME", dir.path().toLocal8Bit()); }
    QString folder() const { return dir.path(); }
    QString file() const { return dir.path() + QStringLiteral("/Pelloran/Morlen.conf"); }

private:
    QTemporaryDir dir;
};

// The nearest ancestor with a name of ours, skipping Qt's own internal widgets ("qt_...").
inline QObject* namedParent(const QObject* object) {
    QObject* parent = object->parent();
    while (parent != nullptr && (parent->objectName().isEmpty() ||
                                 parent->objectName().startsWith(QLatin1String("qt_")))) {
        parent = parent->parent();
    }
    return parent;
}
