// The file-type filters of the main window's filter combo.
#pragma once

#include "job/FileFilterTable.h"

#include <QString>
#include <QStringList>

namespace rastova {

// All filters as one "description|mask|description|mask..." string.
QString FileFilterString();

// Splits a filter string back into (description, mask) pairs; a trailing
// description without a mask is dropped.
QList<std::pair<QString, QString>> ParseFileFilterString(const QString& filters);

// The wildcard patterns of a mask, blanks trimmed and empty parts dropped.
QStringList MaskPatterns(const QString& mask);

}  // namespace rastova
