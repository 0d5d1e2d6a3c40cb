// ScreenRecordCommand: the View menu's Record Screen..., which records what
// the device window shows as an animated PNG (ScreenRecording) in host time.
//
// Record Screen... asks for the file and takes the picture shown now as the
// first frame; the item then reads Stop Recording (the File menu's Stop
// Recording is the session's, a separate item), which ends the file. While it
// records, every picture the window's tick takes (frameShown) becomes a frame
// if its display differs from the one before, stamped with the host time
// since the start, so the delays are the times the window showed each
// picture. The size limit (ScreenRecording::DefaultSizeLimit) and a write
// error end the recording with a message box, shown after the tick that met
// them; the file keeps what was recorded until then. finish ends it without
// a box (the window is closing, maybe for a signal that must not wait).
//
// Everything runs on the user-interface thread; the pictures are the
// ScreenView's own copies, never the machine's bitmap.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <cstdint>
#include <functional>

#include "machine/ScreenRecording.h"

class HostServices;
class QAction;
class QWidget;

class ScreenRecordCommand : public QObject {
    Q_OBJECT
public:
    // shown: the picture the window shows now (the screen bitmap's layout).
    ScreenRecordCommand(HostServices& host, QWidget* owner, std::function<const uint8_t*()> shown);
    ~ScreenRecordCommand() override;

    QAction* action() const { return item; }
    bool recording() const { return recorder.isOpen(); }

    // Record Screen... or Stop Recording, whichever the item says.
    void chosen();
    // The window has taken a new picture to show.
    void frameShown();
    // Ends a recording that runs, its last frame lasting until now. The
    // window calls it while its picture still exists (closing, destroyed).
    void finish();

    // Tests use a small limit; raised to ScreenRecording::SmallestSizeLimit.
    void setSizeLimit(uint64_t bytes) { sizeLimit = bytes; }

    static const char* const filter;

signals:
    void recordingChanged(bool on);

private:
    void start();
    void ended(ScreenRecording::Outcome outcome, bool tellNow);
    uint64_t now() const { return static_cast<uint64_t>(clock.nsecsElapsed() / 1000); }

    HostServices& host;
    QWidget* owner;
    std::function<const uint8_t*()> shown;
    QAction* item = nullptr;
    ScreenRecording recorder;
    QElapsedTimer clock;
    QString path;
    uint64_t sizeLimit = ScreenRecording::DefaultSizeLimit;
};
