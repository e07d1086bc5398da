// Qt's own texts in German: the file dialogs ("Öffnen", "Speichern unter"), the
// question before a file is overwritten, the standard buttons and the names of
// keys in menus ("Strg+O"), so that they speak the program's language.
#pragma once

// Loads qtbase_de.qm from Qt's translations folder and installs it for the
// application's lifetime. Returns false, and Qt keeps its English, when the
// file is missing (Debian: package qt6-translations-l10n). GUI thread, after
// the application object exists.
bool installQtTranslations();
