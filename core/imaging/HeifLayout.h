// Whether the boxes of a HEIF or AVIF file tell the truth about its primary
// picture, checked before libheif decodes anything. The decoders allocate what
// the coded stream says; Pictavo's pixel limit and memory estimate go by what
// the boxes declare. A file whose boxes declare 64 × 64 pixels for a stream of
// 8192 × 8192 would get a tiny share of the memory budget and take a gigabyte.
//
// Checked for the primary image and for every image libheif decodes with it
// (the tiles of a grid, the image an 'iden' item derives from, the auxiliary
// images such as alpha):
//  - a coded image (hvc1, av01) declares its size in an ispe property, not
//    0 × 0, and every size its stream gives (HEVC sequence parameter sets,
//    AV1 sequence headers, in the configuration box and in the coded data
//    alike, since the decoder takes the last one it meets) is the declared
//    size plus at most the coding padding: up to the next multiple of 64,
//    the largest HEVC coding block, never less. An AV1 image without a
//    sequence header in its av1C box is checked against the one in its coded
//    data, which it must carry; one with none at all is damaged;
//  - a grid lists rows × columns tiles, at most kMaxHeifGridTiles, all declared
//    of one size; they cover its output size and exceed it by less than one
//    tile in each direction; its ispe, where given, is its output size.
// Only the meta box and a few bytes of each item's data are read.
#pragma once

#include "imaging/FileFailure.h"

#include <QSize>

class QIODevice;

// The most tiles a grid may have. An iPhone's photo is a grid of 8 × 6 tiles of
// 512 × 512, the largest panoramas of phones and cameras have a few hundred;
// 1024 such tiles hold twice the pixels Pictavo decodes at all. libheif's
// parsing of the item table grows with the square of the items and every tile
// costs a decoder of its own: a file of 140 × 140 tiny tiles, under a megabyte,
// kept a conversion busy for two minutes, while 1024 tiles take half a second.
inline constexpr int kMaxHeifGridTiles = 1024;

// The longest side of a HEIF picture: libheif's own limit, which Pictavo keeps.
// Only a grid reaches it in a conforming file (HEVC's levels end at 16888
// pixels a side, AV1's at 16384), and a longer side with no more pixels than Pictavo decodes at all
// would belong to a strip narrower than 4096 pixels, which no camera makes.
inline constexpr int kMaxHeifSide = 32768;

struct HeifLayout
{
    // None when the boxes and the coded data agree. Damaged when they
    // contradict each other, are cut short or declare 0 × 0; TooManyPixels
    // when the primary picture is declared larger than kMaxDecodedPixels;
    // Undecodable when decoding would take what no camera's file takes (more
    // tiles than kMaxHeifGridTiles, a side longer than kMaxHeifSide, a meta box
    // larger than kMaxHeifMetaBytes) or when the primary image is of a kind
    // that is not checked (an overlay, an unknown item type).
    FileProblem problem = FileProblem::Damaged;
    // The primary image's declared size (a grid's output size), before its
    // rotation; valid when problem is None or TooManyPixels.
    QSize declaredSize;
    // The luma samples the decoders produce for the primary image: every tile
    // at its coded size, padding included. 0 unless problem is None.
    qint64 codedPixels = 0;
};

// The layout of the HEIF file open on `device`, read from its start.
HeifLayout readHeifLayout(QIODevice* device);
