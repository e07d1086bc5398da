// The copies of one message's attachments that the mail client reads.
//
// xdg-email returns as soon as the mail client has been started, often before its
// compose window shows, and the callers delete their attached files right after the
// send. Each send therefore hands the client copies, in a folder of its own under
// <temporary folder>/pictavo-mail, each copy keeping the name of its original. Folders
// there older than a day are removed at the next send, and with the single pictures'
// send folders (sendFolderTemplate()) at the program's next start
// (removeStaleCopies()). The temporary folder is "TEMP" where set (temporaryFolder()).
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

    // The QTemporaryDir template of the folder a single converted picture is sent from
    // (see MailCopy in the window code): <temporary folder>/pictavo-send-XXXXXX. Its
    // owner removes it after the send; one left by a run that was killed goes with
    // removeStaleCopies().
    static QString sendFolderTemplate();

    // Removes the program's own copy folders older than a day: the hand-off folders
    // under rootPath() and the send folders of sendFolderTemplate(). Nothing else in the
    // temporary folder is touched; a link is never followed, and a folder of another
    // user is left. Meant for the program's start, when no send of this run is under way.
    static void removeStaleCopies();

private:
    QString m_folder; // this send's folder; empty when none could be made
};
