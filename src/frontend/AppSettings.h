// AppSettings: the per-user settings store, QSettings under organisation
// "Morvek" and application "pdemu" (on Linux the INI file
// ~/.config/Morvek/pdemu.conf). Every key the program uses is named here.
//
//   [Config] OSRomFile, FlashSaveFile   start-up paths; empty or missing: not set
//   [MRU]    0..3                       recently installed applications, 0 newest
//   [View]   Zoom                       device window zoom, 1 to 4
//   [Debugger] Window, Hexdump,          where the user left those windows
//              Breakpoints, Memory
//   [Debugger] HistoryMB                 memory for the debugger's history, 0 (none) to 65536
//
// Values are text; a missing value reads as the default the caller gives.
#pragma once

#include <QPoint>
#include <QString>
#include <optional>
#include <array>

class AppSettings {
public:
    static constexpr int RecentCount = 4;
    using RecentApps = std::array<QString, RecentCount>;

    QString romFile() const;
    QString saveFile() const;
    void setRomFile(const QString& path);
    // An empty path is stored as an empty string (never save), not deleted.
    void setSaveFile(const QString& path);
    // Deletes OSRomFile, then FlashSaveFile; nothing else.
    void forgetConfiguration();

    RecentApps recentApps() const;
    void setRecentApps(const RecentApps& entries);
    // The list after path has been installed, paths compared as exact text:
    // equal to entry 0, nothing moves; equal to entry 1 or 2, it moves to the
    // front over the ones before it; anything else (new, or equal to entry 3)
    // goes in front and entry 3 falls off. No path is ever listed twice.
    static RecentApps withInstalled(const RecentApps& entries, const QString& path);

    // Twice the organiser's size suits today's screens; 1 is its own size.
    // One host pixel per organiser pixel: the client area is 160 x 304.
    static constexpr int DefaultZoom = 1;
    // 1 to 4; nothing or anything else stored reads as DefaultZoom.
    int zoom() const;
    void setZoom(int zoom);
    static constexpr int DefaultHistoryMB = 512;
    // Megabytes; nothing or anything out of range reads as DefaultHistoryMB.
    int historyMegabytes() const;

    // A window's last position (group "Debugger"); nullopt before the first move.
    std::optional<QPoint> windowPosition(const QString& window) const;
    void setWindowPosition(const QString& window, QPoint position);
};
