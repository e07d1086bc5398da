// One line that names what a conversion with given settings does to a picture,
// for the directory conversion's dialog: the size and quality always, every
// other choice only when it differs from its start value, e.g.
// "800 px, Qualität 60 %, gedreht 90°, gespiegelt".
#pragma once

#include "imaging/ConversionSettings.h"

#include <QString>

// `effectName` is the name of settings.m_nEffect's effect (empty: none).
QString settingsSummary(const ConversionSettings& settings, const QString& effectName);
