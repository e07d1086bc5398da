// The paths of --files-from: one a line, or each ended by NUL (--null), from a
// file or from standard input ("-"). Names are bytes and come back as
// nameFromNative gives them, so a name that is not UTF-8 is kept. Empty
// entries are left out; a relative path is relative to the current folder.
#pragma once

#include <QString>
#include <QStringList>

#include <optional>

std::optional<QStringList> readInputList(const QString& source, bool nullSeparated, QString& error);

// The entries of `bytes`, split at `separator`; a last entry needs no separator.
QStringList splitInputList(const QByteArray& bytes, char separator);
