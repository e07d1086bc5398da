#include "DialogUnits.h"

#include <QFontMetrics>

#include <algorithm>

DialogUnits::DialogUnits(const QFont& font)
{
    // The average over the 52 Latin letters, rounded, as the platform that
    // defined dialog units computes it.
    const QFontMetrics metrics(font);
    const int letters =
        metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    m_baseWidth = std::max(1, (letters / 26 + 1) / 2);
    m_baseHeight = std::max(1, metrics.height());
}

void DialogUnits::identify(QWidget* control, int id)
{
    if (id != 0)
        control->setProperty("id", id);
    if (id > 0)
        control->setObjectName(QString::number(id));
}
