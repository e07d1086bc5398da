// One libjpeg compression record that writes one baseline JFIF file from rows of
// blue, green, red pixels.
#pragma once

#include <QByteArray>

#include <csetjmp>
#include <cstddef>
#include <cstdio>

#include <jpeglib.h>

class CJpegEncoder
{
public:
    CJpegEncoder();
    virtual ~CJpegEncoder();
    CJpegEncoder(const CJpegEncoder&) = delete;
    CJpegEncoder& operator=(const CJpegEncoder&) = delete;

    // Clamps `quality` to 0..100, sets the library's tables for it (forcing
    // baseline values) and returns the clamped value. The library treats 0 as 1.
    int SetQuality(int quality);

    // Dots per inch recorded in the file; 0 records none (aspect ratio only).
    void SetDensity(int dpi);

    // The payload of an APP1 segment (an EXIF block) written right after the
    // JFIF header; empty (the default) writes none.
    void SetExifSegment(const QByteArray& payload) { m_exifSegment = payload; }

    // Writes `height` rows of `width` pixels, three bytes each in the order blue,
    // green, red, top row first, consecutive rows `stride` bytes apart (0: the
    // 4-byte aligned row of a 24-bit picture), to the file at `path`.
    // Returns 0 on success, -1 when the file cannot be created, -2 when the library
    // failed while writing (for example on a full disk); the file is then incomplete.
    int Encode(const unsigned char* bits, int width, int height, const char* path,
               std::size_t stride = 0);

    // Like Encode, but into `bytes`: exactly the bytes Encode would write to a
    // file. Returns 0 on success, -2 when the library failed or the memory for
    // the bytes could not be had; `bytes` is then empty.
    int EncodeToMemory(const unsigned char* bits, int width, int height, QByteArray& bytes,
                       std::size_t stride = 0);

    // The library's message for the last failure of Encode, empty after success.
    const char* LastError() const { return m_lastError; }

private:
    struct ErrorManager
    {
        jpeg_error_mgr pub;
        std::jmp_buf jumpBack;
    };

    // Hands the compressed bytes on to a QByteArray in blocks.
    struct MemoryDestination
    {
        jpeg_destination_mgr pub;
        QByteArray* bytes;
        JOCTET block[65536];
    };

    std::size_t prepare(int width, int height, std::size_t stride);
    bool compress(const unsigned char* bits, std::size_t stride);
    void setDensityFields();
    static void jumpBackOnError(j_common_ptr record);
    static void startBlock(j_compress_ptr record);
    static boolean passOnBlock(j_compress_ptr record);
    static void passOnRest(j_compress_ptr record);

    int m_resolution = 0;
    QByteArray m_exifSegment;
    std::FILE* m_stream = nullptr;
    ErrorManager m_errorManager{};
    jpeg_compress_struct m_record{};
    char m_lastError[JMSG_LENGTH_MAX] = {};
};
