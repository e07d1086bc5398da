// Pictavo's persistent settings: every section, value name, type and default in
// one place.
//
// The values live in QSettings("Orvendel AG", "Pictavo") in native format: on
// Windows under HKEY_CURRENT_USER\Software\Orvendel AG\Pictavo, on Linux in
// ~/.config/Orvendel AG/Pictavo.conf. Three sections hold them: "Setting" (the main
// window), "SettingSub1" (the control panel's position), "Tempfile" (the counter
// of temporary file names) and "Ansicht" (how the main window's view scales the
// picture). Section and value names are the program's interface
// to scripts and older installations; they never change.
//
// Reading never fails: a value that is missing or not of its type reads as its
// default. The types are told apart like this:
//  - An integer value is accepted when QSettings returns an integer type whose
//    value fits 32 bits signed (the registry's REG_DWORD), or a text that is a
//    plain decimal integer: an optional "-" and the digits 0-9 only, no blanks,
//    no "+", no point or exponent, within -2147483648..2147483647. The Linux file
//    holds every value as text, so "640" is the integer 640 there, while "abc",
//    "", "6.5", "1e3", "0x10" and "4294967296" read as the default.
//  - A text value is accepted only when QSettings returns a text. A number stored
//    in the registry (or in the file as "@Variant(...)"), a list (in the file: an
//    unquoted comma, as in `Subject=a, b`; QSettings itself quotes such texts) or
//    any other type reads as the default. In the Linux file an unquoted number is
//    text, so `Testfile=5` reads as "5".
// Writes store integers as integers and texts as texts. Failures of the store are
// not reported: a failed write is lost.
//
// All functions take the QSettings to work on, so tests point them at a temporary
// file. They may be called on any thread, each with its own QSettings object.
#pragma once

#include <QSize>
#include <QString>

#include <cstdint>
#include <memory>

class QSettings;

// A window's outer rectangle in screen coordinates, in the program's convention:
// right and bottom lie one pixel past the window, so the width is right - left.
struct WindowEdges
{
    std::int32_t top = 0;
    std::int32_t left = 0;
    std::int32_t right = 0;
    std::int32_t bottom = 0;

    // Wide enough that absurd stored edges cannot overflow.
    std::int64_t width() const { return std::int64_t(right) - left; }
    std::int64_t height() const { return std::int64_t(bottom) - top; }

    friend bool operator==(const WindowEdges&, const WindowEdges&) = default;
};

// Section "Setting": what the main window keeps between runs. Members carry the
// main window's names; the comments give the value names. The initial values are
// the defaults a read falls back to, except for those MainWindowDefaults gives:
// "Source", "Destination", "Position Right" and "Position Bottom".
struct MainWindowSettings
{
    std::int32_t m_nTargetSize = 640;                                    // "X"
    std::int32_t m_nTargetOther = 480;                                   // "Y"
    std::int32_t m_nQuality = 60;                                        // "Quality"
    QString m_strPicture;                                                // "Testfile"
    QString m_strSourceDir;                                              // "Source"
    QString m_strMailSubject = QStringLiteral("Beiliegend Ihre Bilder"); // "Subject"
    QString m_strMailText =                                              // "Mailtext"
        QStringLiteral("In der Beilage erhalten Sie die gewünschten Bilder");
    QString m_strDestDir;            // "Destination"
    std::int32_t m_bMailAfter = 0;   // "Mail senden"
    std::int32_t m_bAskEachFile = 0; // "Nachfragen"
    std::int32_t m_bKeepExif = 0;    // "Exif behalten"
    std::int32_t m_nMaxKb = 0;       // "Max Kb"
    std::int32_t m_bShrinkToFit = 0; // "Notfalls verkleinern"
    std::int32_t m_bNoEnlarge = 0;   // "Nie vergroessern"
    std::int32_t m_nMaxMailMb = 0;   // "Max Mail MB"
    // "Position Top", "Position Left", "Position Right", "Position Bottom".
    WindowEdges m_rcWindow{20, 20, 0, 0};

    friend bool operator==(const MainWindowSettings&, const MainWindowSettings&) = default;
};

// The defaults of section "Setting" that depend on where and when the program runs.
struct MainWindowDefaults
{
    // The primary screen's size in pixels; the window reaches to 40 pixels before
    // its right and bottom edges.
    QSize screenSize;
    // Default of "Source".
    QString currentDirectory;
    // Default of "Destination".
    QString tempDirectory;
};

// The defaults for a screen of `screenSize`: the current directory (cut to 1024
// characters) and the temporary folder ("TEMP" when set, otherwise the system's).
MainWindowDefaults mainWindowDefaults(QSize screenSize);

// The main window's rectangle when none is stored: 20 pixels from the top-left
// corner of a screen of `screenSize`, to 40 pixels before its right and bottom.
WindowEdges defaultMainWindowEdges(QSize screenSize);

// Reads section "Setting". Values are taken as stored, without range checks.
MainWindowSettings readMainWindowSettings(QSettings& settings, const MainWindowDefaults& defaults);

// `values` with every number the window works with taken into its range: "X"
// 5..3000 (the sizes a conversion makes), "Y" 0..3000, "Quality" 0..100. A number
// above its range stops at the end; one below it reads as the default (a file
// edited by hand or by another program then cannot start the window with a
// negative size or quality). "Max Kb" and "Max Mail MB" below 0 read as 0 (off).
// The flags, texts and the rectangle are left as they are (the window places the
// rectangle itself).
MainWindowSettings withinRanges(MainWindowSettings values);

// Writes every value of section "Setting". The main window calls this once, when
// it is destroyed.
void writeMainWindowSettings(QSettings& settings, const MainWindowSettings& values);

// Section "SettingSub1": the control panel's outer rectangle.
struct PanelLayout
{
    WindowEdges m_rcPanel;

    friend bool operator==(const PanelLayout&, const PanelLayout&) = default;
};

// Where the panel goes at start: `current` moved to the stored "Position Top" and
// "Position Left" (each defaulting to the current edge), keeping its width and
// height. "Position Right" and "Position Bottom" are written, never read. Edges
// that would pass the 32-bit range stop at its end.
PanelLayout readPanelLayout(QSettings& settings, const PanelLayout& current);

// Writes all four edges of the panel's rectangle to section "SettingSub1".
void writePanelLayout(QSettings& settings, const PanelLayout& layout);

// Section "Ansicht": how the main window's view scales the picture.
struct ViewSettings
{
    std::int32_t m_nViewMode = 0; // "Modus": 0 one to one, 1 fitted, 2 zoomed
    std::int32_t m_nZoomStep = 0; // "Zoomstufe": the zoom is 2^(step / 2)

    friend bool operator==(const ViewSettings&, const ViewSettings&) = default;
};

// Reads section "Ansicht". Values are taken as stored, without range checks.
ViewSettings readViewSettings(QSettings& settings);

// Writes both values of section "Ansicht".
void writeViewSettings(QSettings& settings, const ViewSettings& values);

// The number for the next temporary file name: reads "TmpCnt" of section
// "Tempfile" (default 1), stores the number plus 1 at once (after 2147483647
// comes -2147483648) and returns the number read.
int takeTemporaryFileNumber(QSettings& settings);

// The number the next temporary file takes ("TmpCnt", 1 when missing), and
// storing it; for a counter that hands out numbers on another thread.
int readNextTemporaryFileNumber(QSettings& settings);
void writeNextTemporaryFileNumber(QSettings& settings, int number);

// The program's own store and, when it cannot be kept, why.
struct ProgramSettings
{
    std::unique_ptr<QSettings> store;
    // Empty when the values are read from and kept in the user's file; otherwise
    // a German sentence for the user: the store then lives for this run only.
    QString problem;
};

// The program's own store: the file "Orvendel AG/Pictavo.conf" in the user's
// configuration folder (XDG_CONFIG_HOME, by default ~/.config), in the native
// format. Only the user's own file counts: no organisation-wide or system-wide
// values are read, as in the registry section the program reads on Windows.
//
// The file is the program's own: when its path names anything but a regular file
// (a FIFO, a device, a folder, or a link to one of them), it is neither read (a
// FIFO would block the start for good) nor replaced (saving would put a file of
// settings text in place of the device), and the store is a file in a private
// temporary folder that goes with the store.
ProgramSettings openProgramSettings();

// Where openProgramSettings keeps the values.
QString programSettingsPath();
