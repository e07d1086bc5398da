// What a drop of files onto the program's windows asks for, read from the
// dropped addresses: one picture to open, one folder to convert, several files
// to convert together, or nothing the program can take.
#pragma once

#include <QList>
#include <QStringList>
#include <QUrl>

struct DroppedFiles
{
    enum Kind
    {
        Nothing,           // no addresses at all
        Picture,           // one file: opened as the open command opens a picture
        Folder,            // one folder: the source of a directory conversion
        Pictures,          // several files: converted together into the destination folder
        NotLocal,          // an address that is no file of this computer (a web page, say)
        FolderAmongOthers, // a folder together with other files or folders
    };

    Kind kind = Nothing;
    // Picture and Folder: the one path. Pictures: the files in the order dropped,
    // each once. NotLocal: the addresses that are no local files, as the user
    // would read them.
    QStringList paths;

    friend bool operator==(const DroppedFiles&, const DroppedFiles&) = default;
};

// Reads the addresses of a drop (QMimeData::urls()). Looks at the file system
// only to tell folders from files.
DroppedFiles readDroppedFiles(const QList<QUrl>& urls);
