// The copies of one message's attachments that the mail client reads.
//
// xdg-email returns as soon as the mail client has been started, often before its
// compose window shows, and the callers delete their attached files right after the
// send. Each send therefore hands the client copies, in a folder of its own under
// <temporary folder>/pictavo-mail, each copy keeping the name of its original. Folders
// there older than a day are removed at the next send.
//
// Used by CMapiMailer on the thread that sends; one object per send.
#pragma once

#include <QDateTime>
#include <QString>

class MailHandOff
{
public:
    // Removes hand-off folders older than a day, then creates this send's folder.
    MailHandOff();

    // Copies the file at `path` into this send's folder under `fileName` and returns the
    // copy's path. Two attachments of the same name get separate subfolders, so both keep
    // their name. When no copy can be made (the file is missing or unreadable, or there
    // is no hand-off folder) `path` itself is returned: the mail client then reports the
    // original as missing or unreadable.
    QString handOver(const QString& path, const QString& fileName);

    // Removes this send's folder with every copy in it, for a message that no mail client
    // will ever read.
    void discard();

    // <temporary folder>/pictavo-mail
    static QString rootPath();

    // Removes the folders under rootPath() last changed before `limit`.
    static void removeFoldersOlderThan(const QDateTime& limit);

private:
    QString m_folder; // this send's folder; empty when none could be made
};
