#pragma once

#include <QObject>
#include <QVariant>

namespace morlen {

// A control's integer tag, kept as the dynamic property "Tag"; 0 when it was never set.
inline int tagOf(const QObject* object) {
    if (object == nullptr) {
        return 0;
    }
    const QVariant tag = object->property("Tag");
    bool ok = false;
    const int value = tag.toInt(&ok);
    return ok ? value : 0;
}

inline void setTag(QObject* object, int tag) {
    if (object != nullptr) {
        object->setProperty("Tag", tag);
    }
}

}  // namespace morlen

using morlen::setTag;
using morlen::tagOf;
