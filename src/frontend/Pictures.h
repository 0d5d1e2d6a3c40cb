// Pictures: the program's own drawings, made with QPainter at run time (and
// at build time for the installed icon files): the program icon, a grey
// handheld with a green screen, and the About box's crossed-out insect.
// Flat colours from a 16-colour set and no smoothing, so the small sizes stay
// crisp.
#pragma once

#include <QIcon>
#include <QImage>

// The handheld at size x size pixels (16 and 32 are drawn for the window manager).
QImage drawProgramIcon(int size);
// Both sizes in one icon, so the window manager can pick either.
QIcon programIcon();
// The About box's 52 x 50 picture.
QImage drawCrossedOutInsect();
