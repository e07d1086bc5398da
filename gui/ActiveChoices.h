// The compact panel's reminder of its extended part: the choices made there
// go on acting on every picture while the panel hides them, so one line names
// those that are active, e.g. "Aktiv: höchstens 200 Kb, notfalls verkleinern,
// nie vergrössern, Aufnahmedaten behalten".
#pragma once

#include <QString>

class DialogUnits;
struct ConversionSettings;
class QLabel;
class QWidget;

// The line for `settings`; empty when none of the choices is active.
// "notfalls verkleinern" counts only with a size limit, as it does nothing
// without one.
QString activeChoicesText(const ConversionSettings& settings);

// Shows `text` in `line`, a label that wraps its words, at the height the text
// needs at its width; an empty text hides it. Returns whether the room it takes
// changed.
bool setActiveChoicesLine(QLabel& line, const QString& text);

// The line in the panel's `client`, hidden: below the more/less button, where
// the extended part's rows begin, as wide as the compact panel.
QLabel* createActiveChoicesLine(const DialogUnits& units, QWidget* client);
