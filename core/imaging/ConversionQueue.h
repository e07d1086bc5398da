// The requests waiting for the window's conversion service, and the rule by
// which a newer request makes a waiting one pointless.
#pragma once

#include "imaging/ConversionSettings.h"

#include <QString>

#include <deque>

enum class ConversionKind
{
    // A conversion into the temporary file for the window's preview; a newer
    // Preview supersedes every Preview and Redraw still waiting.
    Preview,
    // The view redrawn from the last conversion with new adjustments, without a
    // new conversion (see ConversionPipeline::RedrawView); a newer Redraw
    // supersedes the Redraws still waiting.
    Redraw,
    // Conversions into files the user keeps: never dropped, never reordered.
    Save,
    MailCopy,
    BatchFile,
};

struct ConversionRequest
{
    ConversionKind kind = ConversionKind::Preview;
    // The settings as they were when the request was made.
    ConversionSettings settings;
    QString sourcePath;
    // BatchFile: the folder the file is named into (see directoryOutputPath).
    QString destinationFolder;
    // Save and MailCopy: the file to write.
    QString outputPath;
};

// First in, first out, except for what a newer request supersedes. A request
// once taken is no longer in the queue, so nothing supersedes the running one.
// Takes no lock.
class ConversionQueue
{
public:
    struct Entry
    {
        // Numbered from 1 in the order of push().
        quint64 id = 0;
        ConversionRequest request;
    };

    // Removes what `request` supersedes, appends it and returns its number.
    quint64 push(const ConversionRequest& request);

    bool empty() const { return m_entries.empty(); }

    // The oldest waiting request, removed from the queue. Only when !empty().
    Entry take();

    // Removes every Preview and Redraw: nobody will look at them any more.
    void dropViewRequests();

    // The numbers waiting, oldest first.
    std::deque<quint64> waitingIds() const;

private:
    std::deque<Entry> m_entries;
    quint64 m_lastId = 0;
};
