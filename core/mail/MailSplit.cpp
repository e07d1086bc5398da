#include "mail/MailSplit.h"

#include <algorithm>

qint64 mailBytesOfAttachment(qint64 fileBytes)
{
    const qint64 characters = (std::max<qint64>(fileBytes, 0) + 2) / 3 * 4;
    const qint64 lines = (characters + 75) / 76;
    return characters + lines * 2 + kAttachmentAllowance;
}

MailParts splitForMail(const QList<std::pair<QString, qint64>>& files, qint64 limitBytes)
{
    MailParts parts;
    qint64 used = 0;
    for (const auto& [path, bytes] : files) {
        const qint64 needed = mailBytesOfAttachment(bytes);
        if (limitBytes > 0 && needed > limitBytes) {
            parts.tooLarge << path;
            continue;
        }
        if (parts.mails.isEmpty() || (limitBytes > 0 && used + needed > limitBytes)) {
            parts.mails.append(QStringList());
            used = 0;
        }
        parts.mails.last() << path;
        used += needed;
    }
    return parts;
}

QString partSubject(const QString& subject, int part, int parts)
{
    return parts > 1 ? QStringLiteral("%1 (%2/%3)").arg(subject).arg(part).arg(parts) : subject;
}
