#include "imaging/ConversionQueue.h"

#include <algorithm>
#include <utility>

namespace {

bool isViewRequest(ConversionKind kind)
{
    return kind == ConversionKind::Preview || kind == ConversionKind::Redraw;
}

// A conversion shows all a redraw would; of either only the newest is seen.
bool supersedes(ConversionKind newer, ConversionKind waiting)
{
    if (newer == ConversionKind::Preview)
        return isViewRequest(waiting);
    return newer == ConversionKind::Redraw && waiting == ConversionKind::Redraw;
}

} // namespace

quint64 ConversionQueue::push(const ConversionRequest& request)
{
    std::erase_if(m_entries,
                  [&](const Entry& entry) { return supersedes(request.kind, entry.request.kind); });
    m_entries.push_back({++m_lastId, request});
    return m_lastId;
}

ConversionQueue::Entry ConversionQueue::take()
{
    Entry entry = std::move(m_entries.front());
    m_entries.pop_front();
    return entry;
}

void ConversionQueue::dropViewRequests()
{
    std::erase_if(m_entries, [](const Entry& entry) { return isViewRequest(entry.request.kind); });
}

std::deque<quint64> ConversionQueue::waitingIds() const
{
    std::deque<quint64> ids;
    for (const Entry& entry : m_entries)
        ids.push_back(entry.id);
    return ids;
}
