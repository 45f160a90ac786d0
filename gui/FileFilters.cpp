#include "gui/FileFilters.h"

namespace rastova {

QString FileFilterString()
{
    QStringList parts;
    for (const TFileFilter& filter : kFileFilters)
        parts << QString::fromLatin1(filter.Description) << QString::fromLatin1(filter.Mask);
    return parts.join('|');
}

QList<std::pair<QString, QString>> ParseFileFilterString(const QString& filters)
{
    const QStringList parts = filters.split('|');
    QList<std::pair<QString, QString>> pairs;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2)
        pairs.append({parts[i], parts[i + 1]});
    return pairs;
}

QStringList MaskPatterns(const QString& mask)
{
    QStringList patterns;
    for (const QString& part : mask.split(';')) {
        const QString pattern = part.trimmed();
        if (!pattern.isEmpty())
            patterns << pattern;
    }
    return patterns;
}

}  // namespace rastova
