// The file-type filters of the main window's filter combo.
#pragma once

#include <QString>
#include <QStringList>

#include <array>

namespace rastova {

struct TFileFilter {
    const char* Description;
    const char* Mask;  // wildcard patterns separated by ';'
};

inline constexpr int kFileFilterCount = 19;
extern const std::array<TFileFilter, kFileFilterCount> kFileFilters;

// All filters as one "description|mask|description|mask..." string.
QString FileFilterString();

// Splits a filter string back into (description, mask) pairs; a trailing
// description without a mask is dropped.
QList<std::pair<QString, QString>> ParseFileFilterString(const QString& filters);

// The wildcard patterns of a mask, blanks trimmed and empty parts dropped.
QStringList MaskPatterns(const QString& mask);

}  // namespace rastova
