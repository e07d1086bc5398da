// The folder for the program's temporary files, such as the copies a mail hands to
// the mail client.
#pragma once

#include <QString>

// "TEMP" where it is set and not empty, else the system's temporary folder
// (QDir::tempPath(), which follows TMPDIR).
QString temporaryFolder();
