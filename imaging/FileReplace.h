// Writing a file next to its target and putting it in place in one step, so that a
// failed write never costs the user the file that was there before.
#pragma once

#include <QString>

// Creates a new, empty file with a name of its own in the folder of `target`
// ("<target name>.<random>.tmp": no picture pattern matches it) and returns its
// path, or an empty string when the folder cannot be written. Never opens or
// replaces an existing file. The file gets the permissions a new file would get.
QString createTemporarySibling(const QString& target);

// Replaces `target` by `source` in one step (rename over it), keeping the
// permissions of an existing target. Returns false when that is not possible;
// `source` then still exists and `target` is as it was.
bool replaceFile(const QString& source, const QString& target);
