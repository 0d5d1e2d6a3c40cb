// elideMiddle: text cut to at most limit characters (UTF-16 units) by
// replacing its middle with "…". Used where a path is shown in a bounded
// space (recent-application menu items, the map-file message): the start
// says where the file lies and the end names it, so both are kept. The text
// itself (the path that is installed or loaded) is never shortened.
#pragma once

#include <QString>

inline QString elideMiddle(const QString& text, qsizetype limit) {
    if (text.size() <= limit)
        return text;
    if (limit <= 0)
        return {};
    qsizetype head = (limit - 1) / 2;
    qsizetype tail = limit - 1 - head;
    // Never split a surrogate pair: a lone half would show as a box.
    if (head > 0 && text.at(head - 1).isHighSurrogate())
        --head;
    if (tail > 0 && text.at(text.size() - tail).isLowSurrogate())
        --tail;
    return text.left(head) + QChar(0x2026) + text.right(tail);
}
