#include "imaging/SizeLimit.h"

#include <algorithm>

QualitySearch findQualityWithin(qint64 limitBytes, int chosen,
                                const std::function<qint64(int quality)>& encodedBytes)
{
    QualitySearch search;
    const auto measure = [&](int quality) {
        ++search.encodings;
        search.lastEncoded = quality;
        return encodedBytes(quality);
    };
    const auto found = [&](int quality, qint64 bytes) {
        search.quality = quality;
        search.bytes = bytes;
        search.fits = bytes >= 0 && bytes <= limitBytes;
        return search;
    };

    int high = std::clamp(chosen, 1, 100);
    qint64 highBytes = measure(high);
    if (highBytes < 0 || highBytes <= limitBytes || high == 1)
        return found(high, highBytes);
    int low = 1;
    qint64 lowBytes = measure(low);
    if (lowBytes < 0 || lowBytes > limitBytes)
        return found(low, lowBytes);

    // low fits, high does not.
    bool interpolate = true;
    while (high - low > 1) {
        int next = low + (high - low) / 2;
        if (interpolate && highBytes > lowBytes) {
            const double share = double(limitBytes - lowBytes) / double(highBytes - lowBytes);
            next = low + int(share * (high - low));
        }
        next = std::clamp(next, low + 1, high - 1);
        const int before = high - low;
        const qint64 bytes = measure(next);
        if (bytes < 0)
            break;
        if (bytes <= limitBytes) {
            low = next;
            lowBytes = bytes;
        } else {
            high = next;
            highBytes = bytes;
        }
        // An interpolation that did not halve the interval gives way to halving.
        interpolate = (high - low) * 2 <= before;
    }
    return found(low, lowBytes);
}
