// libtiff writes its warnings and errors to standard error by itself: an
// unknown tag, as cameras and photo managers add (a rating), gives a line for
// every time a directory is read, for files that convert well. Whether a TIFF
// is damaged the decoder judges by what the reader gives, as for every format,
// so libtiff's own words are dropped.
#pragma once

// Drops libtiff's warnings and errors for the whole process, from the libtiff
// Qt's TIFF reader uses. Safe to call more than once; does nothing where no
// libtiff is installed.
void quietTiffLibrary();
