// How the pictures of one batch mail are spread over mails that each stay within
// the user's limit ("Mail höchstens … MB").
//
// An attachment travels as Base64: four characters for every three bytes, in lines
// of 76 characters ended by CR LF, plus its part's headers, counted as a fixed
// allowance. The mails take the pictures in their order; a picture that alone
// exceeds the limit is left out and named, never sent into a bounce.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <utility>

// Headers and boundary of one attachment's part, generously counted.
inline constexpr qint64 kAttachmentAllowance = 1024;

// The bytes a file of `fileBytes` adds to a mail.
qint64 mailBytesOfAttachment(qint64 fileBytes);

struct MailParts
{
    // The attachments of each mail, in order.
    QList<QStringList> mails;
    // The files that alone exceed the limit, in order.
    QStringList tooLarge;
};

// Spreads `files` (path and size in bytes) over mails of at most `limitBytes`
// each; 0 puts them all into one mail.
MailParts splitForMail(const QList<std::pair<QString, qint64>>& files, qint64 limitBytes);

// `subject` followed by " (k/n)" when the pictures go out in n > 1 mails.
QString partSubject(const QString& subject, int part, int parts);
