// The capture data of a photograph that its converted file may keep: when and
// with what it was taken, its exposure, and who owns it. Read from the source's
// EXIF block (JPEG, PNG, WebP, TIFF, HEIF) with libexiv2 and written back as the
// EXIF block of the converted JPEG.
//
// Only the tags listed in CaptureData.cpp pass: never a location (the GPS
// directory), the embedded thumbnail or the camera's maker notes, which may
// carry a serial number or a place. The orientation is written as 1, because the
// converted pixels are already upright, and the pixel dimensions are those of
// the converted picture.
#pragma once

#include <QByteArray>
#include <QSize>
#include <QString>

#include <memory>

class CaptureData
{
public:
    CaptureData();
    ~CaptureData();
    CaptureData(const CaptureData&);
    CaptureData& operator=(const CaptureData&);

    // The capture data of the picture in `bytes`; empty when it has none or its
    // EXIF block cannot be read. Any thread.
    static CaptureData fromPicture(const QByteArray& bytes);

    bool isEmpty() const;

    // The payload of a JPEG APP1 segment ("Exif\0\0" and a TIFF structure) for a
    // converted picture of `pixelSize`; empty when there is nothing to keep.
    QByteArray exifSegment(QSize pixelSize) const;

private:
    struct Tags;
    std::shared_ptr<const Tags> m_tags;
};
