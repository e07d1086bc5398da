#include "BatchEndReport.h"

#include "batch/BatchJob.h"
#include "imaging/NativeNames.h"

#include <QDir>
#include <QFileInfo>

namespace {

const QString kAllDone = QStringLiteral("Alle Dateine sind umgewandelt");

// Names may hold bytes that are not UTF-8; they are shown as the user reads them.
QString section(const QString& heading, const QStringList& lines)
{
    return lines.isEmpty()
               ? QString()
               : QStringLiteral("%1\n%2\n\n").arg(heading, shownName(lines.join(u'\n')));
}

QStringList fileNames(const QStringList& paths)
{
    QStringList names;
    for (const QString& path : paths)
        names << QFileInfo(path).fileName();
    return names;
}

QString details(const BatchSummary& summary, const QStringList& unreadable,
                const QStringList& unwritten)
{
    QStringList renamed = summary.renamed;
    renamed.replaceInStrings(QStringLiteral(" -> "), QStringLiteral(" → "));
    return (section(QStringLiteral("Nicht umgewandelt, weil sie sich nicht als Bild lesen liessen:"),
                    unreadable) +
            section(QStringLiteral("Nicht geschrieben werden konnten:"), unwritten) +
            section(QStringLiteral("Unter einem anderen Namen gespeichert, weil der übliche schon "
                                   "vergeben ist:"),
                    renamed) +
            section(QStringLiteral("Frühere Ergebnisse, nicht noch einmal umgewandelt:"),
                    fileNames(summary.earlierResults)))
        .trimmed();
}

QString counts(const BatchSummary& summary)
{
    return QStringLiteral("%1 von %2 %3 umgewandelt, %4 übersprungen.")
        .arg(summary.converted)
        .arg(summary.total)
        .arg(summary.total == 1 ? QStringLiteral("Datei ist") : QStringLiteral("Dateien sind"))
        .arg(summary.total - summary.converted);
}

} // namespace

BatchEndReport batchEndReport(const BatchSummary& summary, const QStringList& unreadable,
                              const QStringList& unwritten, const QString& destination,
                              bool mailAfter)
{
    if (summary.cancelled)
        return {};
    if (summary.destinationFailure.failed())
        return {QStringLiteral("In den Zielordner „%1“ kann nicht geschrieben werden: %2.")
                    .arg(shownName(QDir::toNativeSeparators(destination)),
                         germanReason(summary.destinationFailure)),
                {}};
    const bool everyFile = summary.converted == summary.total;
    const QString more = details(summary, unreadable, unwritten);
    if (!mailAfter)
        return {everyFile ? kAllDone : counts(summary), more};
    if (!summary.accepted.isEmpty())
        // The mail is the closing word, unless files are missing from it.
        return {everyFile ? QString() : counts(summary), everyFile ? QString() : more};
    if (summary.converted > 0)
        return {QStringLiteral("Keine der umgewandelten Dateien ist für die Mail bestimmt; es wird "
                               "keine Mail versendet."),
                more};
    const QString nothing = summary.total == 0
                                ? QStringLiteral("Im Quellordner ist kein Bild zum Umwandeln.")
                                : counts(summary);
    return {nothing + QStringLiteral("\nEs wird keine Mail versendet."), more};
}
