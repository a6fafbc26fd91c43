// Text that came from the LAN, made safe to show: the characters that can
// reorder or hide the text around them made visible, and what a sender
// wrote kept inside isolates so it cannot rearrange the words around it.
#pragma once

#include <QString>

namespace vindrel {

// The bidirectional embeddings, overrides and isolates (U+202A-U+202E,
// U+2066-U+2069), the line and paragraph separators and the byte order mark.
bool RewritesAround(char32_t c);

// What shows nothing of itself yet can change or hide the text around it:
// the characters above, every other format character (zero-width spaces,
// joiners and marks, the soft hyphen, tags) and the control characters but
// line feed and TAB.
bool Invisible(char32_t c);

// Each invisible character as a visible "<U+202E>"; everything else unchanged.
QString VisibleControls(const QString& text);

// A message text as the inbox shows it: VisibleControls, and each TAB as
// the spaces to the next column of eight (a TAB has no glyph of its own;
// some services show it as U+FFFD).
QString ShownText(const QString& text);

// A name inside a sentence ("Message from NAME"): its controls visible and
// the whole in a first-strong isolate, so a right-to-left name stays in its
// place.
QString IsolatedName(const QString& name);

// A message text where other text may share its layout: each line in an
// isolate of its own, any isolate the sender left open closed inside it, and
// a closer that would end the outer isolate early made visible.
QString IsolatedText(const QString& text);

// The first line of a text, for a one-line column.
QString FirstLine(const QString& text);

}  // namespace vindrel
