// Decodes every scan of a JPEG once more with libjpeg itself, to tell the
// warnings that mean lost picture data from those that do not.
#pragma once

#include <QByteArray>

enum class JpegScans
{
    Intact,
    Damaged,
    // libjpeg could not get the memory to decode the scans: nothing is known of
    // the data, and the picture may well be whole.
    OutOfMemory,
};

// Damaged when libjpeg reports, while decoding all scans of `jpeg`, that the data
// ends early (a premature end of the file or of a scan's data segment), that the
// entropy-coded data is corrupt (a bad Huffman or arithmetic code, a restart
// marker out of place, an inconsistent progression), that bytes other than
// padding lie between coded data and the next marker, or when it fails outright.
//
// Padding is at most kMaxJpegPaddingBytes bytes, each 0x00 or 0xFF: cameras fill
// the end of the coded data so, a few bytes before the end marker. Anything else
// after a scan's data is coded data the scan did not use: the Huffman decoder
// lost step on a damaged bit, decoded the blocks from the wrong bits and stopped
// short of the marker, and the rest of the picture is shifted or smeared. Stray
// bytes between the segments before the first scan (a segment's length one short,
// junk between tables) touch no coded data and leave the picture whole.
//
// Every other warning (an unknown JFIF revision, unusual scan parameters for a
// sequential file, a bad ICC or Adobe marker) leaves the picture whole too.
// Damage that keeps the data consistent goes unnoticed: a changed bit of a DC
// difference, after which the Huffman decoder stays in step, brightens or darkens
// every following block and no decoder can tell.
//
// The scans are decoded at 1/8 scale, where the entropy decoding is nearly all
// the work. Safe to call from several threads at once.
JpegScans checkJpegScans(const QByteArray& jpeg);

inline constexpr int kMaxJpegPaddingBytes = 32;
