#pragma once

#include <QDate>
#include <QString>

namespace morlen {

// A date as the units keep it: two-digit month, day and year, separated by "/" whatever the
// system's date settings say (6 December 2026 gives 12/06/26).
QString ShortDate(const QDate& date);

// The decimal digits a text starts with, as a number; 0 when it starts with none. A run of
// digits too long for the type gives the largest value, which is above any limit checked.
long long LeadingInteger(const QString& text);

}  // namespace morlen
