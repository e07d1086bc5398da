// The parameters of a conversion, shared by the main window, the control panel,
// the directory conversion and the command-line tool.
#pragma once

#include <cstdint>

struct ConversionSettings
{
    // Length of the output's longer side in pixels.
    std::int32_t m_nTargetSize = 640;
    // Shorter side of the view box: m_nTargetSize x the preview's shorter side /
    // its longer side. Only the image view uses it.
    std::int32_t m_nTargetOther = 480;
    // JPEG quality in percent; the writer clamps it to 0..100.
    std::int32_t m_nQuality = 70;
    // Dots per inch recorded in the file and used for the print size; 0 records
    // none ("Automatisch").
    std::int32_t m_nDpi = 90;
    // Brightness change in percent: every channel x (100 + brightness) / 100.
    std::int32_t m_nBrightness = 0;
    // Contrast: stretch about 128 by contrast^2 / 10000, the sign giving the direction.
    std::int32_t m_nContrast = 0;
    // Offsets added to the red, green and blue channel.
    std::int32_t m_nRed = 0;
    std::int32_t m_nGreen = 0;
    std::int32_t m_nBlue = 0;
    // Nonzero: black and white (the plain mean of the three channels).
    std::int32_t m_bGrayscale = 0;
    // Rotation index (0 none, 1 90 degrees, 2 180, 3 270, all clockwise) plus 4
    // when mirrored left to right. Bit 0 is the quarter turn done while scaling.
    std::int32_t m_nOrientation = 0;
    // Selected effect: 0 none, k >= 1 the k-th effect over all loaded libraries.
    std::int32_t m_nEffect = 0;
    // Nonzero: the output keeps the source's capture data (see CaptureData).
    std::int32_t m_bKeepExif = 0;
    // Largest file in kilobytes (1000 bytes); 0: no limit. The quality is then
    // lowered as far as needed (see SizeLimit.h).
    std::int32_t m_nMaxKb = 0;
    // Nonzero: when even quality 1 exceeds m_nMaxKb, the picture is made smaller
    // until it fits.
    std::int32_t m_bShrinkToFit = 0;
    // Nonzero: a source smaller than m_nTargetSize keeps its pixel size.
    std::int32_t m_bNoEnlarge = 0;
    // Colour (0xRRGGBB) behind the transparent parts of a picture; -1: the
    // format's own, see backgroundFor() in ConversionPipeline.h.
    std::int32_t m_nBackground = -1;

    // True when any of the six colour adjustments is set.
    bool hasColourAdjustments() const
    {
        return m_nBrightness != 0 || m_nContrast != 0 || m_nRed != 0 || m_nGreen != 0
               || m_nBlue != 0 || m_bGrayscale != 0;
    }
};
