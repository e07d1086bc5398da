#include "imaging/SettingsSummary.h"

#include <QStringList>

namespace {

QString signedValue(int value)
{
    return value > 0 ? QStringLiteral("+%1").arg(value) : QString::number(value);
}

} // namespace

QString settingsSummary(const ConversionSettings& settings, const QString& effectName)
{
    QStringList parts{QStringLiteral("%1 px").arg(settings.m_nTargetSize),
                      QStringLiteral("Qualität %1 %").arg(settings.m_nQuality)};
    if (settings.m_nMaxKb > 0)
        parts << QStringLiteral("höchstens %1 Kb").arg(settings.m_nMaxKb);
    if (settings.m_nMaxKb > 0 && settings.m_bShrinkToFit != 0)
        parts << QStringLiteral("notfalls verkleinert");
    if (settings.m_bNoEnlarge != 0)
        parts << QStringLiteral("nie vergrössert");
    const int turn = settings.m_nOrientation & 3;
    if (turn != 0)
        parts << QStringLiteral("gedreht %1°").arg(turn * 90);
    if ((settings.m_nOrientation & 4) != 0)
        parts << QStringLiteral("gespiegelt");
    if (settings.m_bGrayscale != 0)
        parts << QStringLiteral("schwarzweiss");
    const struct
    {
        const char* name;
        int value;
    } adjustments[] = {{"Helligkeit", settings.m_nBrightness}, {"Kontrast", settings.m_nContrast},
                       {"Rot", settings.m_nRed},               {"Grün", settings.m_nGreen},
                       {"Blau", settings.m_nBlue}};
    for (const auto& adjustment : adjustments) {
        if (adjustment.value != 0)
            parts << QStringLiteral("%1 %2").arg(QString::fromUtf8(adjustment.name),
                                                 signedValue(adjustment.value));
    }
    if (settings.m_nEffect > 0)
        parts << QStringLiteral("Effekt %1").arg(effectName.isEmpty() ? QString::number(settings.m_nEffect)
                                                                      : effectName);
    if (settings.m_bKeepExif != 0)
        parts << QStringLiteral("mit Aufnahmedaten");
    return parts.join(QStringLiteral(", "));
}
