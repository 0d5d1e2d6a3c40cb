// AppSettings: typed access to the settings store (see AppSettings.h).
#include "frontend/AppSettings.h"

#include <QSettings>

namespace {

QSettings store() { return QSettings(QStringLiteral("Morvek"), QStringLiteral("pdemu")); }

QString readText(const char* group, const QString& key) {
    QSettings s = store();
    s.beginGroup(QLatin1String(group));
    return s.value(key, QString()).toString();
}

void writeText(const char* group, const QString& key, const QString& value) {
    QSettings s = store();
    s.beginGroup(QLatin1String(group));
    s.setValue(key, value);
}

}  // namespace

QString AppSettings::romFile() const { return readText("Config", QStringLiteral("OSRomFile")); }
QString AppSettings::saveFile() const { return readText("Config", QStringLiteral("FlashSaveFile")); }
void AppSettings::setRomFile(const QString& path) { writeText("Config", QStringLiteral("OSRomFile"), path); }
void AppSettings::setSaveFile(const QString& path) { writeText("Config", QStringLiteral("FlashSaveFile"), path); }

void AppSettings::forgetConfiguration() {
    QSettings s = store();
    s.beginGroup(QStringLiteral("Config"));
    s.remove(QStringLiteral("OSRomFile"));
    s.remove(QStringLiteral("FlashSaveFile"));
}

AppSettings::RecentApps AppSettings::recentApps() const {
    RecentApps entries;
    for (int i = 0; i < RecentCount; ++i)
        entries[i] = readText("MRU", QString::number(i));
    return entries;
}

void AppSettings::setRecentApps(const RecentApps& entries) {
    for (int i = 0; i < RecentCount; ++i)
        writeText("MRU", QString::number(i), entries[i]);
}

AppSettings::RecentApps AppSettings::withInstalled(const RecentApps& entries, const QString& path) {
    RecentApps result = entries;
    // A path equal to entry 3 needs no case of its own: entry 3 falls off either way.
    int from = RecentCount - 1;
    for (int i = 0; i < RecentCount - 1; ++i)
        if (entries[i] == path) {
            from = i;
            break;
        }
    for (int i = from; i > 0; --i)
        result[i] = entries[i - 1];
    result[0] = path;
    return result;
}

int AppSettings::zoom() const {
    bool ok = false;
    const int value = readText("View", QStringLiteral("Zoom")).toInt(&ok);
    return ok && value >= 1 && value <= 4 ? value : DefaultZoom;
}

int AppSettings::historyMegabytes() const {
    bool ok = false;
    const int value = readText("Debugger", QStringLiteral("HistoryMB")).toInt(&ok);
    return ok && value >= 0 && value <= 65536 ? value : DefaultHistoryMB;
}

void AppSettings::setZoom(int zoom) { writeText("View", QStringLiteral("Zoom"), QString::number(zoom)); }

std::optional<QPoint> AppSettings::windowPosition(const QString& window) const {
    QSettings s = store();
    const QVariant value = s.value(QStringLiteral("Debugger/") + window);
    if (!value.isValid() || !value.canConvert<QPoint>())
        return std::nullopt;
    return value.toPoint();
}

void AppSettings::setWindowPosition(const QString& window, QPoint position) {
    QSettings s = store();
    s.setValue(QStringLiteral("Debugger/") + window, position);
}
