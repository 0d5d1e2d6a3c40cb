// InputScript: parsing and applying timed input (see InputScript.h).
#include "InputScript.h"

#include <algorithm>
#include <charconv>
#include <sstream>

#include "host/HostFiles.h"
#include "machine/Ports.h"

namespace {

bool parseInt(const std::string& word, long long& value) {
    const char* end = word.data() + word.size();
    auto [ptr, error] = std::from_chars(word.data(), end, value);
    return error == std::errc() && ptr == end && !word.empty();
}

std::string parseLine(const std::vector<std::string>& words, InputEvent& event) {
    long long t = 0;
    if (!parseInt(words[0], t) || t < 0)
        return "time '" + words[0] + "' is not a T-state count";
    event.tstate = static_cast<uint64_t>(t);
    if (words.size() < 2)
        return "missing 'key' or 'pen'";
    if (words[1] == "key") {
        if (words.size() != 4)
            return "want '<tstate> key <name> <down|up>'";
        const auto* names = std::begin(inputKeyNames);
        const auto* found = std::find_if(names, std::end(inputKeyNames),
                                         [&](const char* name) { return words[2] == name; });
        if (found == std::end(inputKeyNames))
            return "unknown key '" + words[2] + "' (ADDR TODO PGUP SCHED MEMO PGDN L)";
        event.kind = InputEvent::Kind::Key;
        event.key = static_cast<int>(found - names);
        if (words[3] == "down")
            event.action = InputEvent::Action::Down;
        else if (words[3] == "up")
            event.action = InputEvent::Action::Up;
        else
            return "key action must be down or up, not '" + words[3] + "'";
        return {};
    }
    if (words[1] == "pen") {
        if (words.size() != 5)
            return "want '<tstate> pen <x> <y> <down|move|up>'";
        long long x = 0, y = 0;
        if (!parseInt(words[2], x) || x < 0 || x > 159)
            return "pen x must be 0-159, not '" + words[2] + "'";
        if (!parseInt(words[3], y) || y < 0 || y > 271)
            return "pen y must be 0-271, not '" + words[3] + "'";
        event.kind = InputEvent::Kind::Pen;
        event.x = static_cast<int>(x);
        event.y = static_cast<int>(y);
        if (words[4] == "down")
            event.action = InputEvent::Action::Down;
        else if (words[4] == "move")
            event.action = InputEvent::Action::Move;
        else if (words[4] == "up")
            event.action = InputEvent::Action::Up;
        else
            return "pen action must be down, move or up, not '" + words[4] + "'";
        return {};
    }
    return "expected 'key' or 'pen', not '" + words[1] + "'";
}

}  // namespace

InputScript parseInputScript(const std::string& text) {
    InputScript script;
    std::istringstream lines(text);
    std::string line;
    for (int number = 1; std::getline(lines, line); ++number) {
        std::istringstream wordStream(line);
        std::vector<std::string> words;
        for (std::string word; wordStream >> word;)
            words.push_back(word);
        if (words.empty() || words[0][0] == '#')
            continue;
        InputEvent event;
        const std::string error = parseLine(words, event);
        if (!error.empty()) {
            // The error quotes the line's words: keep control bytes off the terminal.
            script.error = "line " + std::to_string(number) + ": " + printableText(error);
            script.events.clear();
            return script;
        }
        script.events.push_back(event);
    }
    std::stable_sort(script.events.begin(), script.events.end(),
                     [](const InputEvent& a, const InputEvent& b) { return a.tstate < b.tstate; });
    return script;
}

void applyInputEvent(const InputEvent& event, Ports& ports) {
    if (event.kind == InputEvent::Kind::Key) {
        ports.setButton(static_cast<OrganiserButton>(event.key), event.action == InputEvent::Action::Down);
        return;
    }
    // Position first, so the digitiser never sees the pen down at the old place.
    ports.movePen(event.x, event.y);
    if (event.action == InputEvent::Action::Down)
        ports.setPenDown(true);
    else if (event.action == InputEvent::Action::Up)
        ports.setPenDown(false);
}
