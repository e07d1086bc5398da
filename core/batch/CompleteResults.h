// What a re-run needs to leave a picture alone: the size its result will have,
// known from the source's header without decoding it, and whether a file is a
// whole result of that size.
#pragma once

#include "imaging/ConversionSettings.h"

#include <QSize>
#include <QString>

#include <optional>

// The size a conversion of `sourcePath` with `settings` gives, from the
// header alone; nothing when the header does not tell it. With --shrink under
// a size limit the result may come out smaller than this.
std::optional<QSize> expectedResultSize(const QString& sourcePath,
                                        const ConversionSettings& settings);

// True when `path` is a result as Pictavo writes it (see looksWrittenByPictavo)
// of exactly `size` that is also whole: it ends with the JPEG end marker. A
// copy cut short, or a file another program wrote, is not.
bool isCompleteResult(const QString& path, QSize size);
