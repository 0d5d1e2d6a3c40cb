// AboutBox: "about pdemu", the program icon and two framed groups, one for
// the simulator and one for its debugger, with their versions.
#pragma once

#include <QDialog>

class AboutBox : public QDialog {
    Q_OBJECT
public:
    explicit AboutBox(QWidget* owner);
};
