#include "ActiveChoices.h"

#include "DialogUnits.h"
#include "imaging/ConversionSettings.h"
#include "resource.h"

#include <QLabel>
#include <QStringList>

QString activeChoicesText(const ConversionSettings& settings)
{
    QStringList active;
    if (settings.m_nMaxKb > 0)
        active << QStringLiteral("höchstens %1 Kb").arg(settings.m_nMaxKb);
    if (settings.m_nMaxKb > 0 && settings.m_bShrinkToFit != 0)
        active << QStringLiteral("notfalls verkleinern");
    if (settings.m_bNoEnlarge != 0)
        active << QStringLiteral("nie vergrössern");
    if (settings.m_bKeepExif != 0)
        active << QStringLiteral("Aufnahmedaten behalten");
    if (active.isEmpty())
        return {};
    return QStringLiteral("Aktiv: ") + active.join(QStringLiteral(", "));
}

bool setActiveChoicesLine(QLabel& line, const QString& text)
{
    const int before = line.isHidden() ? 0 : line.height();
    line.setText(text);
    if (!text.isEmpty())
        line.resize(line.width(), line.heightForWidth(line.width()));
    line.setHidden(text.isEmpty());
    return (line.isHidden() ? 0 : line.height()) != before;
}

QLabel* createActiveChoicesLine(const DialogUnits& units, QWidget* client)
{
    auto* line = units.place(new QLabel(client), IDC_PANEL_ACTIVE_CHOICES, 7, 260, 97, 8);
    line->setWordWrap(true);
    line->hide();
    return line;
}
