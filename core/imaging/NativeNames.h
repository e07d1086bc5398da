// File names as the system keeps them (bytes) and as Pictavo holds them
// (QString), without losing a name that is not UTF-8.
//
// Linux names are bytes; old cameras, Windows shares and zip archives leave
// names in Latin-1 or cut in the middle of a character. Qt decodes names as
// UTF-8 and turns such bytes into U+FFFD, after which the file cannot be found
// again. Here each byte of an invalid sequence becomes a lone surrogate
// U+DC80..U+DCFF (the "surrogate escape" Python and others use), which valid
// UTF-8 never yields, and nativeName() gives the very bytes back.
//
// A name holding such an escape must reach the system through nativeName()
// (see NativePaths.h), never through QFile::encodeName() or Qt's file classes,
// and must be shown through shownName().
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>
#include <QStringView>

// The name for `bytes`: valid UTF-8 decoded as usual, every other byte escaped.
QString nameFromNative(QByteArrayView bytes);

// The bytes of `name`: the inverse of nameFromNative(). A lone surrogate that
// is no escape (no file name makes one) is written as U+FFFD, as Qt writes it.
QByteArray nativeName(QStringView name);

// `name` for the user: every escaped byte as U+FFFD.
QString shownName(QStringView name);

// The program's arguments as QCoreApplication::arguments() lists them (argv[0]
// first), decoded with nameFromNative(). Read after the application object is
// made, argv holds what Qt left of them.
QStringList nativeArguments(int argc, const char* const* argv);
