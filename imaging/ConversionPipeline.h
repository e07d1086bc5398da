// One conversion of a picture to a JPEG file of the wanted size and quality, and
// everything the user sees of it: the preview, the file's size, the title and
// the information text. The main window, the directory conversion and
// pictavo-cli all run this unit, so the same settings give the same bytes.
#pragma once

#include "CPicture.h"
#include "ConversionSettings.h"

#include <QImage>
#include <QSize>
#include <QString>

#include <memory>

class EffectHost;

// Longest side JPEG can store, in pixels.
inline constexpr int kMaxOutputSide = 65500;

// Size of the output for a source of `sourceSize` (already swapped for a quarter
// turn) and the longer side `targetSize`: the longer side becomes targetSize, the
// other follows in proportion, truncated, at least 1. Sides are limited to
// kMaxOutputSide. An empty source gives an empty size.
QSize outputSizeFor(QSize sourceSize, int targetSize);

// The shorter side of the view box for `targetSize` and a preview of
// `previewSize`: targetSize x shorter side / longer side, truncated. A preview
// without pixels counts as square.
int viewBoxOtherSide(int targetSize, QSize previewSize);

// The print size: "%.1f x %.1f cm" for `dpi` above 0 (always with a decimal
// point), "Automatisch" for 0.
QString printFormatText(QSize outputSize, int dpi);

// "<TEMP>/Temppic.jpg<number>.jpg", with TEMP from the environment or the
// system's temporary folder.
QString temporaryPicturePath(int number);

// "<folder>/<source name without extension> <width>x<height>.jpg".
QString directoryOutputPath(const QString& folder, const QString& sourcePath, QSize outputSize);

struct ConversionResult
{
    // The file written (for a preview already deleted again).
    QString outputPath;
    QSize outputSize;
    // Size of the written file in bytes; -1 when it could not be found.
    qint64 fileBytes = -1;
    // fileBytes / 1000, truncated; 0 when the file could not be found.
    int kilobytes = 0;
    // "NAME.EXT (N Kb)"
    QString title;
    // Original size (only in the run that loaded the source), resulting size and
    // print format, lines separated by "\r\n".
    QString information;
    // True when this run loaded the source from its path and it decoded.
    bool sourceLoaded = false;
    // True when the source could not be decoded and the sample photograph stood in.
    bool usedSample = false;
    // True when both encodings reached the output path.
    bool written = false;
};

class ConversionPipeline
{
public:
    // `effects` may be null (no effects) and must outlive the pipeline.
    explicit ConversionPipeline(const EffectHost* effects = nullptr);
    ~ConversionPipeline();
    ConversionPipeline(const ConversionPipeline&) = delete;
    ConversionPipeline& operator=(const ConversionPipeline&) = delete;

    // Converts the picture at `sourcePath` with `settings`. The result goes to
    // `outputPath` when given, else into `destinationFolder` named after the
    // source and the output size when given, else to `temporaryPath`. The file at
    // `temporaryPath` is deleted at the end in every case.
    //
    // The source stays loaded for the next run with exactly the same path; a
    // source that cannot be decoded is replaced by the built-in sample photograph
    // (and the path is remembered all the same). Takes no lock: one pipeline must
    // not run on two threads at once.
    ConversionResult Convert(const QString& sourcePath, const ConversionSettings& settings,
                             const QString& destinationFolder, const QString& outputPath,
                             const QString& temporaryPath);

    // Redraws the view from the last preview and applies the current adjustments,
    // effect and half turn or mirror on top of it (a quick update without a new
    // conversion).
    void RedrawView(const ConversionSettings& settings);

    // The output of the last run decoded again.
    const CPicture& preview() const { return m_preview; }
    // The picture the view shows: the preview after the adjustments, Format_BGR888.
    const QImage& view() const { return m_view; }
    // The path the source was last loaded from ("dddd" before the first run).
    const QString& loadedPath() const { return m_strLoaded; }
    // Size of the source picture of the last run.
    QSize originalSize() const { return {m_nOrigWidth, m_nOrigHeight}; }

    // A JPEG source is decoded at a reduced size only while that covers this
    // many times the size it is drawn at; measured against the full decode, see
    // bench/MeasureDecodeMargin.cpp: at 1.5 the converted pictures of the test
    // photographs differ from those of a full decode by at least 35 dB PSNR, mostly
    // by more than 40.
    static constexpr double kDecodeMargin = 1.5;

private:
    static QSize sourceDrawingSize(QSize outputSize, const ConversionSettings& settings);
    static QSize decodeMinimum(QSize drawingSize);
    void loadSource(const QString& sourcePath, const ConversionSettings& settings,
                    QString& originalSizeText, ConversionResult& result);
    void ensureSourceCovers(QSize drawingSize);
    QImage scaledSource(QSize outputSize, const ConversionSettings& settings) const;

    const EffectHost* m_effects;
    std::unique_ptr<CPicture> m_pSource;
    QString m_strLoaded = QStringLiteral("dddd");
    bool m_sourceIsSample = false;
    // The source's full size, upright, even when it is decoded smaller.
    QSize m_sourceSize;
    // The source file's bytes while the source is decoded at a reduced size.
    QByteArray m_sourceBytes;
    int m_nOrigWidth = 0;
    int m_nOrigHeight = 0;
    CPicture m_preview;
    QImage m_view;
};
