// The basic picture effects of Effekt, as plain functions over one pixel block.
//
// Every function works in place on `pixels`: image.height rows of image.rowBytes
// bytes, top row first, three bytes a pixel (blue, green, red). All three channels
// are treated alike and independently. The caller guarantees width > 0, height > 0
// and rowBytes == width * 3; no function reads or writes outside
// height * rowBytes bytes. The functions keep no state: calls on different blocks
// may run on any threads at the same time.
#pragma once

#include "EffectImage.h"

namespace effekt {

// Each byte becomes 255 where it is brighter than the mean of its direct
// neighbours, 0 where it is darker (and on the border also where it is equal)
// and 128 where an inner byte equals the mean.
void lineDrawing(const EffectImage& image, unsigned char* pixels);

// Each inner pixel becomes the mean of the 3 x 3 square around it, rounded down;
// the outermost row and column on every side keep their values.
void boxBlur(const EffectImage& image, unsigned char* pixels);

// Each byte becomes 255 minus its value.
void invert(const EffectImage& image, unsigned char* pixels);

// Each inner pixel keeps only the top three bits of every channel.
void fewColours(const EffectImage& image, unsigned char* pixels);

// Each pixel but those of the last row shows its difference to the pixel below
// right, around 128; the last row turns grey.
void relief(const EffectImage& image, unsigned char* pixels);

// Blocks of 2 x 2 pixels become black and white pixels whose number of white
// ones follows the block's brightness.
void blockHalftone(const EffectImage& image, unsigned char* pixels);

// Each byte becomes 255 where it is at most the value of the byte before it in
// memory order (128 for the first pixel), otherwise 0.
void threshold(const EffectImage& image, unsigned char* pixels);

} // namespace effekt
