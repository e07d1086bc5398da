// Colour adjustments, effects and orientation on 24-bit pictures.
//
// Both functions are free of any window: they work on a QImage of
// Format_BGR888 (rows top to bottom, three bytes a pixel in the order blue,
// green, red, each row padded to QImage's own row length) in place.
#pragma once

#include "imaging/ConversionSettings.h"

#include <QImage>

class CPicture;
class EffectHost;

// When bit 0 of settings.m_nOrientation is set (90 or 270 degrees), draws
// `source` turned a quarter turn clockwise into `target`, stretched to fill it:
// the source is drawn, without keeping its aspect, into a white picture of
// target.height() x target.width() with a black one-pixel frame (filled with
// settings.m_nBackground instead when that is a colour), and that picture turned
// into `target`. Otherwise does nothing. `target` must be
// Format_BGR888.
void ApplyQuarterTurn(QImage& target, const CPicture& source, const ConversionSettings& settings);

// Runs the selected effect's first phase, the colour adjustments (brightness,
// contrast, black and white, the channel offsets, clamped once at the end), the
// effect's second phase and then the half turn, mirror or vertical flip that
// settings.m_nOrientation asks for, on `picture` (Format_BGR888) in place.
// `effects` may be null: then no effect runs.
void ApplyAdjustments(QImage& picture, const ConversionSettings& settings,
                      const EffectHost* effects);

// Only the half turn, mirror or vertical flip of `orientation` (a value of
// ConversionSettings::m_nOrientation), as ApplyAdjustments ends with it.
void ApplyHalfTurnOrMirror(QImage& picture, std::int32_t orientation);
