#include "app/file_names.h"

#include <QDir>
#include <QFile>

#include <stdexcept>
#include <vector>

#include "shell/path_order.h"

namespace lumifold {

namespace {

bool isSeparator(QChar c) { return c == QLatin1Char('/') || c == QDir::separator(); }

}  // namespace

QString directoryPart(const QString& path) {
  qsizetype last = path.size() - 1;
  while (last >= 0 && !isSeparator(path[last])) --last;
  if (last < 0) return QString();
  if (last == 0) return path.left(1);
  return path.left(last);
}

QString dialogStartName(const QString& directory) {
  QString name = directory;
  if (name.isEmpty() || !isSeparator(name.back())) name += QDir::separator();
  return name + QStringLiteral("*.bmp");
}

QString bmpFileName(const QString& chosen) { return withExtension(chosen, QStringLiteral(".bmp")); }

QString withExtension(const QString& chosen, const QString& extension) {
  qsizetype nameStart = chosen.size();
  while (nameStart > 0 && !isSeparator(chosen[nameStart - 1])) --nameStart;
  const qsizetype dot = chosen.lastIndexOf(QLatin1Char('.'));
  const QString stem = dot >= nameStart ? chosen.left(dot) : chosen;
  return stem + extension;
}

QString savedFileName(const QString& chosen, const QString& windowsFilter, int type) {
  // Each type's extensions, from its patterns ("*.tif;*.tiff").
  QList<QStringList> types;
  const QStringList parts = windowsFilter.split(QLatin1Char('|'));
  for (qsizetype i = 1; i < parts.size(); i += 2) {
    QStringList extensions;
    for (const QString& pattern : parts[i].split(QLatin1Char(';'))) extensions.push_back(pattern.mid(1));
    types.push_back(extensions);
  }
  if (types.isEmpty()) return chosen;
  if (type <= 0 || type >= types.size()) return withExtension(chosen, types.front().front());
  for (const QStringList& extensions : types) {
    for (const QString& extension : extensions) {
      if (chosen.endsWith(extension, Qt::CaseInsensitive) && chosen.size() > extension.size() &&
          !isSeparator(chosen[chosen.size() - extension.size() - 1])) {
        return chosen;
      }
    }
  }
  return withExtension(chosen, types[type].front());
}

std::string localPath(const QString& path) { return QFile::encodeName(path).toStdString(); }

QStringList sortedPaths(const QStringList& paths) {
  std::vector<std::string> utf8;
  utf8.reserve(static_cast<std::size_t>(paths.size()));
  for (const QString& p : paths) utf8.push_back(p.toStdString());
  sortPaths(utf8);
  QStringList sorted;
  sorted.reserve(static_cast<qsizetype>(utf8.size()));
  for (const std::string& p : utf8) sorted.push_back(QString::fromStdString(p));
  return sorted;
}

QStringList nameFiltersFrom(const QString& windowsFilter) {
  const QStringList parts = windowsFilter.split(QLatin1Char('|'));
  QStringList filters;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    QString description = parts[i];
    const qsizetype open = description.indexOf(QLatin1Char('('));
    if (open >= 0) description.truncate(open);
    description = description.trimmed();
    QString patterns = parts[i + 1];
    patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
    filters.push_back(QStringLiteral("%1 (%2)").arg(description, patterns.trimmed()));
  }
  return filters;
}

int integerValue(const QString& text) {
  const QString trimmed = text.trimmed();
  bool ok = !trimmed.isEmpty();
  for (qsizetype i = 0; ok && i < trimmed.size(); ++i) {
    const QChar c = trimmed[i];
    const bool sign = i == 0 && (c == QLatin1Char('+') || c == QLatin1Char('-'));
    ok = sign || (c >= QLatin1Char('0') && c <= QLatin1Char('9'));
  }
  const int value = ok ? trimmed.toInt(&ok, 10) : 0;
  if (!ok) {
    throw std::invalid_argument(
        QStringLiteral("'%1' is not a valid integer value").arg(text).toStdString());
  }
  return value;
}

}  // namespace lumifold
