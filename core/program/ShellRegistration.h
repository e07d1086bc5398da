// Pictavo's entries in the desktop's file managers.
//
// At every start the program writes, with its current location, the files through
// which the desktop offers it:
//  - applications/pictavo.desktop: opens a JPEG, GIF, BMP or PNG picture, with the
//    action "Öffnen mit Pictavo"; its icon "pictavo" goes beside it into
//    icons/hicolor/<size>/apps/ (PNGs from 16x16 to 256x256, and scalable/ the SVG);
//  - kio/servicemenus/pictavo.desktop (Dolphin), nemo/actions/pictavo.nemo_action
//    (Nemo) and the script nautilus/scripts/"Ganzes Verzeichnis mit Pictavo
//    umwandeln oder versenden" (Nautilus): each gives every folder the entry
//    "Ganzes Verzeichnis mit Pictavo umwandeln oder versenden", which starts the
//    program with "/V" and the folder.
// All of them lie under $XDG_DATA_HOME, or ~/.local/share when that is unset, empty
// or not an absolute path.
//
// On Windows the same entries are keys under HKEY_CLASSES_ROOT; that backend is not
// written, but the rules by which it derives the program's path and the folder
// command from the process's command line are kept here as pure functions.
#pragma once

#include <QString>

// Writes these files for the program at programPath (absolute; an empty path
// writes nothing). Missing folders are created. Each file is replaced atomically,
// so a crash or a full disk never leaves half an entry behind; a file whose content
// and permissions are already right is left untouched, so an unchanged install does
// not make the desktop rebuild its menus at every start. Failures are silent: the
// program runs on without its entries, and one file that cannot be written does
// not keep the others from being written.
//
// Called once at start-up on the GUI thread, before any other thread exists.
void registerShellEntries(const QString& programPath);

// Windows: the program file's path from the process's full command line. The
// command line is cut before the first occurrence of its argument text (what
// follows the program's name), trailing white space and then double quotes at
// both ends are removed. "C:\PROG\PICTAVO.EXE /V C:\Bilder" gives
// "C:\PROG\PICTAVO.EXE". This path goes into the picture's "open" commands as
// path + " %1".
QString programPathFromCommandLine(const QString& commandLine);

// Windows: the program's part of the folder command (path + " /V %1"). A command
// line that begins with a double quote gives the text up to the next double quote.
// Any other is upper-cased and cut after the first occurrence of exeName + ".exe"
// (exeName being the program file's name without folder and extension, compared
// without regard to case); without such an occurrence the whole upper-cased command
// line remains.
QString programCommandFromCommandLine(const QString& commandLine, const QString& exeName);
