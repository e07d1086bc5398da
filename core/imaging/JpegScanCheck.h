// Decodes every scan of a JPEG once more with libjpeg itself, to tell the
// warnings that mean lost picture data from those that do not.
#pragma once

#include <QByteArray>

// True when libjpeg reports, while decoding all scans of `jpeg`, that the data
// ends early (a premature end of file, or of a scan's data segment), that the
// entropy-coded data is corrupt (a bad Huffman or arithmetic code, a restart
// marker out of place, an inconsistent progression), or fails outright. Every
// other warning (extraneous bytes before a marker, an unknown JFIF revision,
// unusual scan parameters, a bad ICC or Adobe marker) leaves the picture whole.
//
// The scans are decoded at 1/8 scale, where the entropy decoding is nearly all
// the work. Safe to call from several threads at once.
bool jpegScanDataIsDamaged(const QByteArray& jpeg);
