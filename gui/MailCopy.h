// The file the mail command sends: the current picture converted, named
// "<picture's name without extension>.jpg" so that the mail shows that name.
//
// It lies in a folder of its own, created for this one send under the
// temporary folder ("TEMP" where set, else the system's), so its path can never
// be the picture's own path, whatever folder the picture is in, and no file of
// the user's is ever overwritten or deleted. The folder and everything in it
// are removed with the object; one that a killed run left behind goes at a later
// start (MailHandOff::removeStaleCopies).
#pragma once

#include <QString>
#include <QTemporaryDir>

class MailCopy
{
public:
    explicit MailCopy(const QString& picturePath);
    MailCopy(const MailCopy&) = delete;
    MailCopy& operator=(const MailCopy&) = delete;

    // False when the folder could not be created; path() is empty then.
    bool isValid() const { return !m_path.isEmpty(); }
    const QString& path() const { return m_path; }

private:
    QTemporaryDir m_folder;
    QString m_path;
};
