// A TIFF file's bytes as exiv2 is to read them. exiv2 copies the data of every
// entry of the first directory into its own values, so it must not see the
// entries the decoders do not see either (see TiffDirectory.h). It reads the
// file as one block of memory: where IFD0 is patched, it gets a copy made in
// fresh, zero-filled pages in which the data left out and the picture's strips
// or tiles (which exiv2 never reads) are not copied, so that those pages are
// never touched and take no memory.
#pragma once

#include <QByteArray>

#include <cstddef>

class TiffMetadataBytes
{
public:
    // Over `bytes`, which must outlive this: any file that is no TIFF, or whose
    // IFD0 keeps all its entries, is read as it is.
    explicit TiffMetadataBytes(const QByteArray& bytes);
    ~TiffMetadataBytes();
    TiffMetadataBytes(const TiffMetadataBytes&) = delete;
    TiffMetadataBytes& operator=(const TiffMetadataBytes&) = delete;

    // Null when the copy was needed and its pages could not be had.
    const char* data() const { return m_data; }
    qint64 size() const { return m_size; }

private:
    void* m_copy = nullptr;
    std::size_t m_copyBytes = 0;
    const char* m_data = nullptr;
    qint64 m_size = 0;
};
