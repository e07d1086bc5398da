// Every text, id and default the user meets in Pictavo's windows, in one table:
// the main window "Ansicht", the control panel "Schnellstart" with its menu bar,
// and the dialogs "Verzeichnis umwandeln", "Umwandlung" and "Mail Setup". The
// values are those of a first start (no settings stored, no picture chosen) with
// Effekt beside the program.
#pragma once

namespace uitext {

// The windows, by the id each carries.
constexpr int kMainWindow = 130;
constexpr int kPanel = 135;
constexpr int kFolderDialog = 134;
constexpr int kQuestion = 147;
constexpr int kMailSetup = 136;
// Labels and frames without an id of their own.
constexpr int kStatic = -1;

// Where a control is shown: always, only in the extended panel, never, or
// depending on the picture (the view's scroll bars).
enum class Shown
{
    Always,
    Extended,
    Never,
    Varies
};

struct WindowRow
{
    int window;
    const char* kind;
    const char* caption;
    int defaultButton; // 0: Enter presses no button
};

struct ControlRow
{
    int window;
    int id; // kStatic for labels and frames without an id
    const char* kind;
    const char* text;
    const char* tip;
    bool tabStop;
    // The value or state at the start: a field's text, a slider's position, a
    // list's selected entry, "checked"/"unchecked"; "{name}" stands for a value
    // of the session (a folder, the result text).
    const char* value;
    const char* entries; // a list's entries in order, separated by '|'
    Shown shown;
};

// Menu entries in order; a null text is a separator.
struct MenuRow
{
    int window;
    const char* popup;
    const char* text;
    int command;
};

// What each command of the panel shows when it reaches the main window, with
// no picture chosen.
struct CommandRow
{
    int button; // 0: a menu command only
    int command;
    const char* shows;
};

// The rows keep one control to a line where they can.
// clang-format off
inline constexpr WindowRow kWindows[] = {
    // The caption until the first conversion names the picture.
    {kMainWindow, "CImageDlg", "Ansicht", 0},
    // Enter does nothing in the panel.
    {kPanel, "CPanelDlg", "Schnellstart", 0},
    {kFolderDialog, "CFolderDlg", "Verzeichnis umwandeln", 1},
    {kQuestion, "CConfirmDlg", "Umwandlung", 6},
    {kMailSetup, "CMailSetupDlg", "Mail Setup", 1},
};

using enum Shown;

inline constexpr ControlRow kControls[] = {
    // The view is painted, not a button; the scroll bars show when the picture
    // is larger than the view. Neither takes the keyboard focus.
    {kMainWindow, 1000, "ImageView", "", "", false, "", nullptr, Always},
    {kMainWindow, 1002, "QScrollBar", "", "", false, "0", nullptr, Varies},
    {kMainWindow, 1003, "QScrollBar", "", "", false, "0", nullptr, Varies},

    // The panel starts compact: the right column and the reset button show only
    // in the extended panel.
    {kPanel, 1006, "CFaceButton", "Open", "Öffnet ein Testbild", true, "", nullptr, Always},
    {kPanel, 1027, "CFaceButton", "Speichern", "Speichert das Bild in der gewünschten Grösse", true, "",
     nullptr, Always},
    {kPanel, 1028, "CFaceButton", "Verzeichnis erstellen",
     "Wandelt ein ganzes Verzeichnis in die gewünschte Grösse um", true, "", nullptr, Always},
    {kPanel, 1040, "CFaceButton", "Senden", "Versendet das Bild an einen E-Mail Empfänger", true, "", nullptr,
     Always},
    {kPanel, 1051, "CFaceButton", "reset", "Setzt die Erweiterungen zurück", true, "", nullptr, Extended},
    {kPanel, 1038, "QPlainTextEdit", "", "Grösse mit den jetzigen Einstellungen", true, "{Ergebnis}", nullptr,
     Always},
    {kPanel, 1053, "QGroupBox", "Grösse", "", false, "", nullptr, Always},
    // A slider shows no text: its name "Grösse" is read out by screen readers.
    {kPanel, 1017, "QSlider", "", "Mit diesem Regler wird die Grösse des Bildes eingestellt", true, "640",
     nullptr, Always},
    {kPanel, 1018, "QLineEdit", "", "Geben Sie hier die genaue Grösse Ihres Bilds ein", true, "640", nullptr,
     Always},
    {kPanel, 1057, "QPushButton", "W1",
     "Pictavo ermöglicht mit einem Schiebschalter die schnelle Proportionale Veränderung der Bildgröße. "
     "Ebenso einfach kann die Qualität des Bildes eingestellt werden.",
     true, "", nullptr, Never},
    {kPanel, 1058, "QPushButton", "Werbung 2",
     "Pictavo wandelt auch ganze Verzeichnisse in einem Durchgang in die gewünschte Grösse um.", true, "",
     nullptr, Never},
    {kPanel, 1059, "QPushButton", "Werbung 3",
     "Mit Pictavo versenden Sie Ihre Bilder direkt als Anhang einer E-Mail.", true, "", nullptr, Never},
    {kPanel, 1052, "QGroupBox", "Qualität", "", false, "", nullptr, Always},
    // The nine quality buttons are one tab stop, the checked one ("60%" at the
    // start quality 60); the cursor keys move between them.
    {kPanel, 1029, "QRadioButton", "10%", "Qualität auf 10% einstellen", false, "unchecked", nullptr, Always},
    {kPanel, 1030, "QRadioButton", "20%", "Qualität auf 20% einstellen", false, "unchecked", nullptr, Always},
    {kPanel, 1031, "QRadioButton", "30%", "Qualität auf 30% einstellen", false, "unchecked", nullptr, Always},
    {kPanel, 1032, "QRadioButton", "40%", "Qualität auf 40% einstellen", false, "unchecked", nullptr, Always},
    {kPanel, 1033, "QRadioButton", "50%", "Qualität auf 50% einstellen", false, "unchecked", nullptr, Always},
    {kPanel, 1034, "QRadioButton", "60%", "Qualität auf 60% einstellen", true, "checked", nullptr, Always},
    {kPanel, 1035, "QRadioButton", "70%", "Qualität auf 70% einstellen", false, "unchecked", nullptr, Always},
    {kPanel, 1036, "QRadioButton", "80%", "Qualität auf 80% einstellen", false, "unchecked", nullptr, Always},
    {kPanel, 1037, "QRadioButton", "90%", "Qualität auf 90% einstellen", false, "unchecked", nullptr, Always},
    {kPanel, 1026, "QLineEdit", "", "Qualität in feineren Schritten einstellen", true, "60", nullptr, Always},
    {kPanel, kStatic, "QGroupBox", "Helligkeit", "", false, "", nullptr, Extended},
    {kPanel, 1045, "CSpinEdit", "", "Stellen Sie hier die gewünschte Helligkeit ein", true, "0", nullptr,
     Extended},
    {kPanel, kStatic, "QGroupBox", "Kontrast", "", false, "", nullptr, Extended},
    {kPanel, 1046, "CSpinEdit", "", "Hier stellen Sie den Kontrast ein", true, "0", nullptr, Extended},
    {kPanel, 1055, "QGroupBox", "Farbeinstellung", "", false, "", nullptr, Extended},
    {kPanel, kStatic, "QLabel", "Rot", "", false, "", nullptr, Extended},
    {kPanel, 1047, "CSpinEdit", "", "Stellen Sie den Rotanteil des Bildes ein", true, "0", nullptr, Extended},
    {kPanel, kStatic, "QLabel", "Grün", "", false, "", nullptr, Extended},
    {kPanel, 1048, "CSpinEdit", "", "Stellen Sie den Grünanteil des Bildes ein", true, "0", nullptr, Extended},
    {kPanel, kStatic, "QLabel", "Blau", "", false, "", nullptr, Extended},
    {kPanel, 1049, "CSpinEdit", "", "Stellen Sie den Blauanteil des Bildes ein", true, "0", nullptr, Extended},
    {kPanel, 1050, "QCheckBox", "Schwarzweis", "Hier erzeugen Sie ein Schwarz/Weiss Bild", true, "unchecked",
     nullptr, Extended},
    {kPanel, kStatic, "QGroupBox", "Auflösung", "", false, "", nullptr, Extended},
    // The start resolution of 90 dpi is none of the entries: nothing selected.
    {kPanel, 1056, "QComboBox", "", "Stellen Sie hier die Auflösung ein", true, "",
     "Automatisch|72 dpi|96 dpi|144 dpi", Extended},
    {kPanel, kStatic, "QGroupBox", "Drehen", "", false, "", nullptr, Extended},
    {kPanel, 1063, "QComboBox", "", "", true, "Normal", "Normal|Drehung 90°|Drehung 180°|Drehung 270°",
     Extended},
    {kPanel, 1064, "QCheckBox", "Spiegeln", "", true, "unchecked", nullptr, Always},
    // After "(ohne)" the names Effekt gives its effects.
    {kPanel, 1070, "QGroupBox", "Effekte", "", false, "", nullptr, Extended},
    {kPanel, 1065, "QComboBox", "", "", true, "(ohne)",
     "(ohne)|Strich|Strichzeichnen 2|Strichzeichnen 3|Negativ|Wenig Farben|Weichzeichnen|Hammerschlag|Goblin",
     Extended},
    // The tip of the compact panel; kMoreLessTipExtended is that of the extended one.
    {kPanel, 1054, "CFaceButton", "Button1", "Schaltet zusätzliche Erweiterungen ein", true, "", nullptr,
     Always},
    // Off at the first start: files are written as plain JFIF files.
    {kPanel, 1071, "QCheckBox", "Aufnahmedaten behalten",
     "Behält Aufnahmedatum, Kamera und Belichtung im Bild, nie den Aufnahmeort", true, "unchecked", nullptr,
     Extended},
    // The size limit: 0 is off.
    {kPanel, kStatic, "QLabel", "Höchstens", "", false, "", nullptr, Extended},
    {kPanel, 1072, "QLineEdit", "", "Grösste Datei in Kb: die Qualität wird so weit wie nötig gesenkt (0 = aus)",
     true, "0", nullptr, Extended},
    {kPanel, kStatic, "QLabel", "Kb", "", false, "", nullptr, Extended},
    {kPanel, 1073, "QCheckBox", "notfalls verkleinern",
     "Verkleinert das Bild, statt die Qualität unter 50 zu senken", true, "unchecked", nullptr, Extended},
    {kPanel, 1074, "QCheckBox", "Nie vergrössern", "Ein kleineres Bild behält seine Grösse", true, "unchecked",
     nullptr, Extended},
    // Shown while the panel is compact and a choice of its extended part is active.
    {kPanel, 1077, "QLabel", "", "", false, "", nullptr, Varies},

    // The folder trees take the keyboard focus for the folder they show.
    {kFolderDialog, 1, "QPushButton", "OK", "", true, "", nullptr, Always},
    {kFolderDialog, 2, "QPushButton", "Abbrechen", "", true, "", nullptr, Always},
    {kFolderDialog, kStatic, "QLabel", "Quell Verzeichnis", "", false, "", nullptr, Always},
    {kFolderDialog, kStatic, "QLabel", "Ziel Verzeichnis", "", false, "", nullptr, Always},
    {kFolderDialog, 1021, "QLineEdit", "", "", true, "{Quelle}", nullptr, Always},
    {kFolderDialog, 1022, "QLineEdit", "", "", true, "{Ziel}", nullptr, Always},
    {kFolderDialog, 1060, "CFolderPicker", "", "", true, "{Quelle}", nullptr, Always},
    {kFolderDialog, 1061, "CFolderPicker", "", "", true, "{Ziel}", nullptr, Always},
    {kFolderDialog, 1019, "QCheckBox", "Rückfrage beim Umwandeln", "", true, "unchecked", nullptr, Always},
    {kFolderDialog, 1020, "QCheckBox", "Bilder per Mail versenden", "", true, "unchecked", nullptr, Always},
    // What the batch will do to each picture.
    {kFolderDialog, 1075, "QLabel", "800 px, Qualität 70 %, gedreht 90°, gespiegelt",
     "800 px, Qualität 70 %, gedreht 90°, gespiegelt", false, "", nullptr, Always},

    // "Static" stands until the first question replaces it.
    {kQuestion, 7, "QPushButton", "&Nein", "", true, "", nullptr, Always},
    {kQuestion, 6, "QPushButton", "&Ja", "", true, "", nullptr, Always},
    {kQuestion, 2, "QPushButton", "&Abbrechen", "", true, "", nullptr, Always},
    {kQuestion, 1069, "QPushButton", "Ja zu allen", "", true, "", nullptr, Always},
    {kQuestion, 1067, "QLabel", "Static", "", false, "", nullptr, Always},

    {kMailSetup, 1, "QPushButton", "OK", "", true, "", nullptr, Always},
    {kMailSetup, 2, "QPushButton", "Abbrechen", "", true, "", nullptr, Always},
    {kMailSetup, kStatic, "QLabel", "Betreff:", "", false, "", nullptr, Always},
    {kMailSetup, 1039, "QLineEdit", "", "", true, "Beiliegend Ihre Bilder", nullptr, Always},
    {kMailSetup, kStatic, "QLabel", "Nachricht", "", false, "", nullptr, Always},
    {kMailSetup, 1040, "QPlainTextEdit", "", "", true, "In der Beilage erhalten Sie die gewünschten Bilder",
     nullptr, Always},
    // The provider's limit for one mail; 0 is none.
    {kMailSetup, kStatic, "QLabel", "Mail höchstens", "", false, "", nullptr, Always},
    {kMailSetup, 1076, "QLineEdit", "", "", true, "0", nullptr, Always},
    {kMailSetup, kStatic, "QLabel", "MB", "", false, "", nullptr, Always},
};

// The more/less button, and its tip in the extended panel.
constexpr int kMoreLess = 1054;
inline constexpr const char* kMoreLessTipExtended = "Schaltet Erweiterungen aus";

inline constexpr MenuRow kMenus[] = {
    // The main window's context menu (right click): the view's commands, and
    // the about entry, as Qt cannot add entries to the window manager's system menu.
    {kMainWindow, "", "Vergleich", 32790},
    {kMainWindow, "", "Einpassen", 32791},
    {kMainWindow, "", "Originalgrösse", 32792},
    {kMainWindow, "", nullptr, 0},
    {kMainWindow, "", "Info über Pictavo", 16},

    {kPanel, "&Datei", "Ö&ffnen", 1006},
    {kPanel, "&Datei", "&Speichern unter", 32775},
    {kPanel, "&Datei", nullptr, 0},
    {kPanel, "&Datei", "&Versenden per Mail", 32778},
    {kPanel, "&Datei", nullptr, 0},
    {kPanel, "&Datei", "&Ganzes Verzeichnis umwandeln", 32776},
    {kPanel, "&Datei", nullptr, 0},
    {kPanel, "&Datei", "&Beenden", 2},
    {kPanel, "&Optionen", "&Maileinstellung", 32777},
    {kPanel, "&?", "Inf&o über Pictavo...", 57664},
};

// The file dialogs are the platform's: only their filters are Pictavo's. The
// extensions of "Alle Bilder" depend on the build's readers and show as "…".
inline constexpr CommandRow kCommands[] = {
    {1006, 1006,
     "Öffnen: Bilder (*.jpg *.jpeg *.jpe *.gif *.bmp);;Alle Bilder (…);;Alle Dateien (*)"},
    {1027, 32775, "Speichern: Bilder (*.jpg)"},
    {1040, 32778, "Meldung: Es ist kein Bild geöffnet, das versendet werden könnte."},
    {1028, 32776, "Verzeichnis umwandeln"},
    {0, 32777, "Mail Setup"},
    {0, 57664, "Info über Pictavo"},
    // Last: it ends the program.
    {0, 2, "Programmende"},
};

// clang-format on

} // namespace uitext
