// InputScript: timed button and pen input for the headless runner. A script
// holds one event a line:
//
//   <tstate> key <ADDR|TODO|PGUP|SCHED|MEMO|PGDN|L> <down|up>
//   <tstate> pen <x 0-159> <y 0-271> <down|move|up>
//
// Blank lines and lines starting with '#' are ignored. Events are applied in
// time order (lines with the same time in file order) as soon as the emulated
// time reaches them, at the end of a time slice, which makes a run repeatable.
// Parsed by main.cpp through loadInputScript; applied by HeadlessRun.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class Ports;

struct InputEvent {
    enum class Kind { Key, Pen };
    enum class Action { Down, Up, Move };

    uint64_t tstate = 0;
    Kind kind = Kind::Key;
    Action action = Action::Down;
    int key = 0;  // index into inputKeyNames
    int x = 0, y = 0;
};

inline constexpr const char* inputKeyNames[] = {"ADDR", "TODO", "PGUP", "SCHED", "MEMO", "PGDN", "L"};

struct InputScript {
    std::vector<InputEvent> events;  // sorted by time, stable
    std::string error;               // "line N: ..." when the text is bad
};

InputScript parseInputScript(const std::string& text);

// Writes the event into the machine's button and pen fields.
void applyInputEvent(const InputEvent& event, Ports& ports);
