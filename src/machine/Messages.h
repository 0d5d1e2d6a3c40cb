// MessageReporter: how the machine tells the user about a failure (a ROM file
// that does not open, an application that cannot be installed, a missing
// symbol file). The front end shows a modal box titled "pdemu" with one OK
// button; the headless runner and the tests record or print the text.
#pragma once

#include <string>

enum class MessageIcon { Stop, Information, Warning };

class MessageReporter {
public:
    virtual ~MessageReporter() = default;
    virtual void showMessage(MessageIcon icon, const std::string& text) = 0;
};
